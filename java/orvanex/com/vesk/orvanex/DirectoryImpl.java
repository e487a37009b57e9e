package com.vesk.orvanex;

/** A directory handle that stands for a native directory. */
public class DirectoryImpl implements Directory {
    protected long _nativePtr;

    public DirectoryImpl() {}
}
