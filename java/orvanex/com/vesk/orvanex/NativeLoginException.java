package com.vesk.orvanex;

/** Directory error 114. */
public class NativeLoginException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public NativeLoginException() { super(114, null); }
    public NativeLoginException(String message) { super(114, message); }
    public NativeLoginException(int code, String message) { super(code, message); }
}
