package com.vesk.orvanex.tests.jni;

import com.vesk.orvanex.DirectoryIOException;

/** A Java object kel scripts use through its registered prototype. */
public class Widget {
    public static final int objectID = 20417;
    public String name;
    public int count;

    public Widget(String name) { this.name = name; }

    public int add(Integer a, Integer b) { return a + b; }
    public String greet(String who) { return "hello " + who + " from " + name; }
    public void bump() { count++; }
    public String fail() throws DirectoryIOException { throw new DirectoryIOException(28, "widget failed"); }
    public String crash() { throw new IllegalStateException("widget crashed"); }
    public String toJSON() { return "{\"widget\":\"" + name + "\"}"; }
}
