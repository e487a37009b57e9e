package com.vesk.orvanex.tests.jni;

import java.util.ArrayList;
import java.util.List;
import java.util.Objects;

/** A small collector of failed checks: run() methods return its report ("" when all held). */
final class Check {
    private final List<String> failures = new ArrayList<>();
    private String area = "";

    void area(String a) { area = a; }

    void eq(Object want, Object got, String what) {
        if (!Objects.deepEquals(want, got)) failures.add(area + ": " + what + ": want <" + want + "> got <" + got + ">");
    }

    void ok(boolean cond, String what) {
        if (!cond) failures.add(area + ": " + what);
    }

    /** Runs one named block; an exception fails it without stopping the others. */
    void run(String name, ThrowingRunnable r) {
        area(name);
        try {
            r.run();
        } catch (Throwable t) {
            java.io.StringWriter w = new java.io.StringWriter();
            t.printStackTrace(new java.io.PrintWriter(w));
            failures.add(name + ": threw " + w);
        }
    }

    String report() {
        StringBuilder b = new StringBuilder();
        for (String f : failures) b.append(f).append('\n');
        return b.toString();
    }

    interface ThrowingRunnable {
        void run() throws Throwable;
    }
}
