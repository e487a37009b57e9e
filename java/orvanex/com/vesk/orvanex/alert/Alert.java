package com.vesk.orvanex.alert;

/** An alert; stands for a native alert. */
public class Alert {
    protected long nativePtr;
    protected boolean shadow;

    public Alert(long p, boolean shadow) { nativePtr = p; this.shadow = shadow; }
}
