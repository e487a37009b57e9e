package com.vesk.orvanex;

/** A text with a multi-type-string type (the native value's subtype). */
public class MultiTypeString implements java.io.Serializable {
    private static final long serialVersionUID = 1L;
    private final int type;
    private final String value;

    public MultiTypeString(int type, String value) { this.type = type; this.value = value; }

    public int getType() { return type; }
    public String getValue() { return value; }
}
