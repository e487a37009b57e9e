package com.vesk.orvanex.regex;

/** A regular expression compiled by the native runtime (Java syntax). Close it when done. */
public class VeskPattern implements AutoCloseable {
    protected long _nativePtr;

    public VeskPattern(long p) { _nativePtr = p; }

    public static native VeskPattern createPattern(String pattern, int flags);
    public native boolean matches(String text);
    public native boolean isError();
    public native String getErrorMessage();
    private native void close(long p);

    @Override public synchronized void close() {
        long p = _nativePtr;
        _nativePtr = 0;
        close(p);
    }
}
