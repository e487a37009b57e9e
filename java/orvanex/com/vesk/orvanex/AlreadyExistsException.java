package com.vesk.orvanex;

/** Directory error 33. */
public class AlreadyExistsException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public AlreadyExistsException() { super(33, null); }
    public AlreadyExistsException(String message) { super(33, message); }
    public AlreadyExistsException(int code, String message) { super(code, message); }
}
