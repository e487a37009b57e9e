package com.vesk.orvanex.tests;

/** A program for runJavaClass: prints one line. */
public final class HelloMain {
    private HelloMain() {}

    public static void main(String[] args) {
        if (args.length != 0) {
            throw new IllegalStateException("expected no arguments");
        }
        System.out.print("HelloMain ran with " + args.length + " arguments");
        System.out.println();
    }
}
