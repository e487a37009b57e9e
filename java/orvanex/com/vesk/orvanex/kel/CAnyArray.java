package com.vesk.orvanex.kel;

import com.vesk.orvanex.Any;

/** A native kel array. Close it when done. */
public class CAnyArray implements Any, AutoCloseable, Cloneable {
    protected long _nativePtr;

    public CAnyArray() { create(); }
    public CAnyArray(long p) { _nativePtr = p; }

    private native void create();
    private native void close(long p);

    @Override public synchronized void close() {
        long p = _nativePtr;
        _nativePtr = 0;
        close(p);
    }

    @Override public int getType() { return 1030; }
    public native boolean add(Any v);
    public native void add(CAnyArray v);
    public native void add(CAnyMap v);
    public native Any get(int i);
    public native Any set(int i, Any v);
    public native void clear();
    public native int size();
    public native String toJSON();
    @Override public native Object clone();
    @Override public native boolean equals(Object o);

    @Override public int hashCode() { return size(); }
}
