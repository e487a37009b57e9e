package com.vesk.orvanex;

/** Directory error 13. */
public class TimeoutException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public TimeoutException() { super(13, null); }
    public TimeoutException(String message) { super(13, message); }
    public TimeoutException(int code, String message) { super(code, message); }
}
