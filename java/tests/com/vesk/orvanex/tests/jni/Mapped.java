package com.vesk.orvanex.tests.jni;

import com.vesk.orvanex.Attributes;

import java.util.ArrayList;
import java.util.Date;

/** A class copied field by field through the wire encoding (object id 4990). */
public class Mapped {
    public static final int objectID = 4990;
    public static final int container_field_12_objectID = 4991;
    static int a = 7;
    transient int b = 9;
    public int c;
    public String d;
    public boolean e;
    public long f;
    public float g;
    public double h;
    public Date date;
    public Attributes attrs;
    public byte[] bytes;
    public String[] texts;
    public Object opaque;
    public ArrayList<Inner> list;
    public Inner inner;
    public Integer boxed;

    public Mapped() {}

    /** A nested mapped class (object id 4991). */
    public static class Inner {
        public static final int objectID = 4991;
        public String name;
        public int n;

        public Inner() {}
        public Inner(String name, int n) { this.name = name; this.n = n; }

        @Override public boolean equals(Object o) {
            return o instanceof Inner && java.util.Objects.equals(((Inner) o).name, name) && ((Inner) o).n == n;
        }
        @Override public int hashCode() { return n; }
        @Override public String toString() { return name + "/" + n; }
    }
}
