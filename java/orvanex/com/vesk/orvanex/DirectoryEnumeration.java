package com.vesk.orvanex;

/** The entries a search found; stands for a native enumeration. */
public class DirectoryEnumeration {
    protected long _nativePtr;

    public DirectoryEnumeration(long p) { _nativePtr = p; }
}
