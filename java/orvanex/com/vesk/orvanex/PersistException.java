package com.vesk.orvanex;

/** Directory error 121. */
public class PersistException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public PersistException() { super(121, null); }
    public PersistException(String message) { super(121, message); }
    public PersistException(int code, String message) { super(code, message); }
}
