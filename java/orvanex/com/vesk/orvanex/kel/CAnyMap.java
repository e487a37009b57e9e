package com.vesk.orvanex.kel;

import com.vesk.orvanex.Any;
import com.vesk.orvanex.AnyMap;

/** A native kel object (a named-value set). Close it when done. */
public class CAnyMap implements AnyMap, Any, AutoCloseable, Cloneable {
    protected long _nativePtr;

    public CAnyMap() { create(); }
    public CAnyMap(long p) { _nativePtr = p; }

    private native void create();
    private native void close(long p);

    @Override public synchronized void close() {
        long p = _nativePtr;
        _nativePtr = 0;
        close(p);
    }

    @Override public int getType() { return 1001; }
    public native void setAttribute(String name, boolean v);
    public native void setAttribute(String name, int v, int flags);
    public native void setAttribute(String name, long v, int flags);
    public native void setAttribute(String name, float v, int flags);
    public native void setAttribute(String name, double v, int flags);
    public native void setAttribute(String name, String v, int flags);
    public native void setAttribute(String name, Any v, int flags);
    public native void setAttribute(String name, Object v, int flags);
    public native void setAttribute(String name, CAnyArray v);
    public native void setAttribute(String name, CAnyMap v);
    public native void addOrSetAttribute(String name, Any v, int flags);
    public native void setAlertAttribute(String name, com.vesk.orvanex.alert.Alert alert);
    @Override public native Any getAttribute(String name);
    public native int getDisplayHint(String name);
    @Override public native String[] getAttributeNames();
    public native String toJSON();
    public native String toJSON(Parser parser);
    public native String toHTTPQuery();
    public native void clear();
    @Override public native Object clone();
    public native int size();
    @Override public native boolean equals(Object o);
    public native Location getLocation();

    @Override public int hashCode() { return size(); }
}
