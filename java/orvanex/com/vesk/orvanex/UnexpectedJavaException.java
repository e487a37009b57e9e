package com.vesk.orvanex;

/** Directory error 25. */
public class UnexpectedJavaException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public UnexpectedJavaException() { super(25, null); }
    public UnexpectedJavaException(String message) { super(25, message); }
    public UnexpectedJavaException(int code, String message) { super(code, message); }
}
