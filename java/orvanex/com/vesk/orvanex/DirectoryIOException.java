package com.vesk.orvanex;

/** Directory error 14. */
public class DirectoryIOException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public DirectoryIOException() { super(14, null); }
    public DirectoryIOException(String message) { super(14, message); }
    public DirectoryIOException(int code, String message) { super(code, message); }
}
