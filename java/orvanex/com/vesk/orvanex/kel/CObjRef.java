package com.vesk.orvanex.kel;

/** A native kel object that has no Java form. Close it when done. */
public class CObjRef implements AutoCloseable {
    protected long _nativePtr;

    public CObjRef(long p) { _nativePtr = p; }

    private native void close(long p);

    @Override public synchronized void close() {
        long p = _nativePtr;
        _nativePtr = 0;
        close(p);
    }
}
