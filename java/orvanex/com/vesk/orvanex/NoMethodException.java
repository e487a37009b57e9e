package com.vesk.orvanex;

/** Directory error 53. */
public class NoMethodException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public NoMethodException() { super(53, null); }
    public NoMethodException(String message) { super(53, message); }
    public NoMethodException(int code, String message) { super(code, message); }
}
