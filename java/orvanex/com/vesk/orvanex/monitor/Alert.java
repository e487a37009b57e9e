package com.vesk.orvanex.monitor;

/** An alert made by a Java monitor; stands for a native alert. */
public class Alert {
    protected long nativePtr;

    public Alert() {}
    public Alert(long p) { nativePtr = p; }
}
