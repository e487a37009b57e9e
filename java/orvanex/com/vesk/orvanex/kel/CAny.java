package com.vesk.orvanex.kel;

import com.vesk.orvanex.Any;
import com.vesk.orvanex.AnyArray;
import com.vesk.orvanex.AnyMap;

/** A native kel value. Close it when done. */
public class CAny implements Any, AutoCloseable, Cloneable {
    protected long _nativePtr;

    public CAny(long p) { _nativePtr = p; }

    private native void close(long p);

    @Override public synchronized void close() {
        long p = _nativePtr;
        _nativePtr = 0;
        close(p);
    }

    @Override public native int getType();
    public native int getMtsType();
    public native void setMtsType(int t);
    public native int getInt32();
    public native long getInt64();
    public native float getFloat();
    public native double getDouble();
    public native boolean getBoolean();
    public native boolean isNull();
    public native String getString();
    public native AnyArray getArray();
    public native AnyMap getMap();
    public native Object getObject();
    public native void clear();
    public native String toJSON();
    public native String toJSON(Parser parser);
    @Override public native Object clone();
    public static native CAny createString(String s);
    public static native CAny create(CAnyArray a);
    public static native CAny create(CAnyMap m);
    public static native CAny create(double d);
    public native String getTypeName();
    public native String getClassName();
    @Override public native boolean equals(Object o);
    public native KelBigDecimal getBigDecimal();

    @Override public int hashCode() { return getType(); }
    @Override public String toString() { return getString(); }
}
