package com.vesk.orvanex;

/** Directory error 71. */
public class BusyException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public BusyException() { super(71, null); }
    public BusyException(String message) { super(71, message); }
    public BusyException(int code, String message) { super(code, message); }
}
