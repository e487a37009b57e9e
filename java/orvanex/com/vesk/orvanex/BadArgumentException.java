package com.vesk.orvanex;

/** Directory error 24. */
public class BadArgumentException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public BadArgumentException() { super(24, null); }
    public BadArgumentException(String message) { super(24, message); }
    public BadArgumentException(int code, String message) { super(code, message); }
}
