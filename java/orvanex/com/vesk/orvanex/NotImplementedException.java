package com.vesk.orvanex;

/** Directory error 21. */
public class NotImplementedException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public NotImplementedException() { super(21, null); }
    public NotImplementedException(String message) { super(21, message); }
    public NotImplementedException(int code, String message) { super(code, message); }
}
