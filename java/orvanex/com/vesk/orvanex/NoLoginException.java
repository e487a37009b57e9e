package com.vesk.orvanex;

/** Directory error 96. */
public class NoLoginException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public NoLoginException() { super(96, null); }
    public NoLoginException(String message) { super(96, message); }
    public NoLoginException(int code, String message) { super(code, message); }
}
