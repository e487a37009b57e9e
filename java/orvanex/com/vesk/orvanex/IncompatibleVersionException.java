package com.vesk.orvanex;

/** Directory error 117. */
public class IncompatibleVersionException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public IncompatibleVersionException() { super(117, null); }
    public IncompatibleVersionException(String message) { super(117, message); }
    public IncompatibleVersionException(int code, String message) { super(code, message); }
}
