package com.vesk.orvanex;

/** One typed value: the Java form of a native value. */
public class Attribute implements Any, java.io.Serializable {
    private static final long serialVersionUID = 1L;

    public static final int TYPE_NULL = 1;
    public static final int TYPE_BOOL = 2;
    public static final int TYPE_INT32 = 3;
    public static final int TYPE_INT64 = 4;
    public static final int TYPE_FLOAT = 5;
    public static final int TYPE_DOUBLE = 6;
    public static final int TYPE_STRING = 7;
    public static final int TYPE_OBJECT = 30000;

    private final int type;
    private final Object value;
    private int mtsType;

    public Attribute(int v) { type = TYPE_INT32; value = v; }
    public Attribute(long v) { type = TYPE_INT64; value = v; }
    public Attribute(float v) { type = TYPE_FLOAT; value = v; }
    public Attribute(double v) { type = TYPE_DOUBLE; value = v; }
    public Attribute(boolean v) { type = TYPE_BOOL; value = v; }
    public Attribute(String v) { type = TYPE_STRING; value = v; }
    public Attribute(Object v) { type = v == null ? TYPE_NULL : TYPE_OBJECT; value = v; }

    @Override public int getType() { return type; }
    public int getMtsType() { return mtsType; }
    public void setMtsType(int t) { mtsType = t; }
    public int getInt32() { return ((Number) value).intValue(); }
    public long getInt64() { return ((Number) value).longValue(); }
    public float getFloat() { return ((Number) value).floatValue(); }
    public double getDouble() { return ((Number) value).doubleValue(); }
    public boolean getBoolean() { return (Boolean) value; }
    public String getString() { return type == TYPE_STRING ? (String) value : String.valueOf(value); }
    public Object getObject() { return value; }
    public String getBigDecimalString() { return String.valueOf(value); }

    @Override public String toString() { return String.valueOf(value); }
}
