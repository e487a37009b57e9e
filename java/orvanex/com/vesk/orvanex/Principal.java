package com.vesk.orvanex;

/** The identity under which directory requests are made; stands for a native principal. */
public class Principal {
    protected long nativePtr;
    protected boolean shadow;

    public Principal(long nativePtr, boolean shadow) {
        this.nativePtr = nativePtr;
        this.shadow = shadow;
    }
}
