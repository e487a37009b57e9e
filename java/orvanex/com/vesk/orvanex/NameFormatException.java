package com.vesk.orvanex;

/** Directory error 1. */
public class NameFormatException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public NameFormatException() { super(1, null); }
    public NameFormatException(String message) { super(1, message); }
    public NameFormatException(int code, String message) { super(code, message); }
}
