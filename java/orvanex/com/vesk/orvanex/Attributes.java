package com.vesk.orvanex;

import java.util.LinkedHashMap;
import java.util.Map;

/** The Java form of a native attribute set: named values with flags, in the order they were set. */
public class Attributes implements AnyMap, java.io.Serializable {
    private static final long serialVersionUID = 1L;

    private final Map<String, Any> values = new LinkedHashMap<>();
    private final Map<String, Integer> flags = new LinkedHashMap<>();

    public Attributes() {}

    public void setAttribute(String name, Any value, int flag) {
        values.put(name, value);
        flags.put(name, flag);
    }

    @Override public Any getAttribute(String name) { return values.get(name); }

    @Override public String[] getAttributeNames() { return values.keySet().toArray(new String[0]); }

    public int getFlags(String name) {
        Integer f = flags.get(name);
        return f == null ? 0 : f;
    }

    public int size() { return values.size(); }

    @Override public String toString() { return values.toString(); }
}
