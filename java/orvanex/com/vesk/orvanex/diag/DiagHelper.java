package com.vesk.orvanex.diag;

import java.util.Map;

/** Diagnostics the native runtime asks for. */
public final class DiagHelper {
    private DiagHelper() {}

    /** Prints the stack of every live thread on standard error. */
    public static void dumpAllThreads() {
        StringBuilder out = new StringBuilder("Java thread dump\n");
        for (Map.Entry<Thread, StackTraceElement[]> e : Thread.getAllStackTraces().entrySet()) {
            Thread t = e.getKey();
            out.append('"').append(t.getName()).append("\" ").append(t.getState()).append('\n');
            for (StackTraceElement frame : e.getValue()) {
                out.append("    at ").append(frame).append('\n');
            }
        }
        System.err.print(out);
        System.err.flush();
    }
}
