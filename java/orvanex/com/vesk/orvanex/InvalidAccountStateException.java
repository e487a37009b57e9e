package com.vesk.orvanex;

/** Directory error 118. */
public class InvalidAccountStateException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public InvalidAccountStateException() { super(118, null); }
    public InvalidAccountStateException(String message) { super(118, message); }
    public InvalidAccountStateException(int code, String message) { super(code, message); }
}
