package com.vesk.orvanex;

/** Directory error 122. */
public class DeprecatedException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public DeprecatedException() { super(122, null); }
    public DeprecatedException(String message) { super(122, message); }
    public DeprecatedException(int code, String message) { super(code, message); }
}
