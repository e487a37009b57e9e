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
    /** Runs kel itself while a script that called it runs: the nested run must not wait for its caller. */
    public Object nested(Integer x) {
        com.vesk.orvanex.kel.Parser p = new com.vesk.orvanex.kel.Parser("nested", "x * 2");
        com.vesk.orvanex.kel.CVariableSet vs = new com.vesk.orvanex.kel.CVariableSet();
        vs.defineVariable("x", x);
        com.vesk.orvanex.kel.Result r = p.executeExpression(null, vs);
        Object v = r.isSuccess() ? ((com.vesk.orvanex.kel.CAny) r.getValue()).getObject() : r.getError();
        r.close();
        vs.close();
        p.close();
        return v;
    }

    public String toJSON() { return "{\"widget\":\"" + name + "\"}"; }
}
