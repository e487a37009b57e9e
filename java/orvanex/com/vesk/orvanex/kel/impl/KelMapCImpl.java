package com.vesk.orvanex.kel.impl;

import com.vesk.orvanex.AnyArray;

import java.util.AbstractMap;
import java.util.Collection;
import java.util.LinkedHashMap;
import java.util.LinkedHashSet;
import java.util.Map;
import java.util.Set;

/**
 * A java.util.Map over a native attribute set. Entries are never removed: remove answers null and clear does
 * nothing, as kel objects keep their members. Close it when done.
 */
public class KelMapCImpl implements Map<String, Object>, AutoCloseable, Cloneable {
    protected long _nativePtr;

    public KelMapCImpl(long p) { _nativePtr = p; }

    public static native KelMapCImpl create();
    private native void close(long p);

    @Override public synchronized void close() {
        long p = _nativePtr;
        _nativePtr = 0;
        close(p);
    }

    @Override public native int size();
    @Override public native boolean containsKey(Object key);
    @Override public native Object get(Object key);
    @Override public native Object put(String key, Object value);
    @Override public native Object remove(Object key);
    @Override public native void clear();
    public native boolean getBooleanAttribute(String name);
    public native int getIntAttribute(String name);
    public native long getLongAttribute(String name);
    public native float getFloatAttribute(String name);
    public native double getDoubleAttribute(String name);
    public native String getStringAttribute(String name);
    public native AnyArray getAnyArrayAttribute(String name);
    public native Object getObjectAttribute(String name);
    public native void setAttribute(String name, boolean v);
    public native void setAttribute(String name, int v);
    public native void setAttribute(String name, long v);
    public native void setAttribute(String name, float v);
    public native void setAttribute(String name, double v);
    public native void setAttribute(String name, String v);
    public native void setAttribute(String name, int v, int flags);
    public native void setAttribute(String name, long v, int flags);
    public native void setAttribute(String name, float v, int flags);
    public native void setAttribute(String name, double v, int flags);
    public native void setAttribute(String name, String v, int flags);
    public native void setAttribute(String name, Object v, int flags);
    public native int getDisplayHint(String name);
    public native String[] getAttributeNames();
    @Override public native String toString();
    @Override public native Object clone();

    @Override public boolean isEmpty() { return size() == 0; }

    @Override public boolean containsValue(Object value) { return values().contains(value); }

    @Override public void putAll(Map<? extends String, ? extends Object> m) {
        for (Map.Entry<? extends String, ? extends Object> e : m.entrySet()) put(e.getKey(), e.getValue());
    }

    /** A snapshot of the names, newest first; a name set twice appears once. */
    @Override public Set<String> keySet() {
        Set<String> keys = new LinkedHashSet<>();
        String[] names = getAttributeNames();
        if (names != null) for (String n : names) keys.add(n);
        return keys;
    }

    /** A snapshot of the values, in keySet order. */
    @Override public Collection<Object> values() { return snapshot().values(); }

    /** A snapshot of the entries, in keySet order; changes go through put. */
    @Override public Set<Map.Entry<String, Object>> entrySet() {
        Set<Map.Entry<String, Object>> out = new LinkedHashSet<>();
        for (Map.Entry<String, Object> e : snapshot().entrySet()) {
            out.add(new AbstractMap.SimpleEntry<String, Object>(e.getKey(), e.getValue()) {
                private static final long serialVersionUID = 1L;

                @Override public Object setValue(Object v) {
                    put(getKey(), v);
                    return super.setValue(v);
                }
            });
        }
        return out;
    }

    private Map<String, Object> snapshot() {
        Map<String, Object> m = new LinkedHashMap<>();
        for (String k : keySet()) m.put(k, get(k));
        return m;
    }

    @Override public boolean equals(Object o) {
        return o instanceof Map && snapshot().equals(o instanceof KelMapCImpl ? ((KelMapCImpl) o).snapshot() : o);
    }

    @Override public int hashCode() { return snapshot().hashCode(); }
}
