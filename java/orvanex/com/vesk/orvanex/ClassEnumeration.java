package com.vesk.orvanex;

/** The classes a list found; stands for a native enumeration. */
public class ClassEnumeration {
    protected long _nativePtr;

    public ClassEnumeration(long p) { _nativePtr = p; }
}
