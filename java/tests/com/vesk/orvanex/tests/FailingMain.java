package com.vesk.orvanex.tests;

/** A program for runJavaClass whose main throws. */
public final class FailingMain {
    private FailingMain() {}

    public static void main(String[] args) {
        throw new IllegalStateException("FailingMain fails on purpose");
    }
}
