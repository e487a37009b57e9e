package com.vesk.orvanex;

/** Directory error 15. */
public class NotFoundException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public NotFoundException() { super(15, null); }
    public NotFoundException(String message) { super(15, message); }
    public NotFoundException(int code, String message) { super(code, message); }
}
