package com.vesk.orvanex.agent;

/** The host's task log. */
public final class LogHelper {
    private LogHelper() {}

    public static native void addLog(String text);
}
