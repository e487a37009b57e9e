package com.vesk.orvanex;

/** Directory error 72. */
public class IntegrityViolationException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public IntegrityViolationException() { super(72, null); }
    public IntegrityViolationException(String message) { super(72, message); }
    public IntegrityViolationException(int code, String message) { super(code, message); }
}
