package com.vesk.orvanex;

/** Directory error 23. */
public class PermissionDeniedException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public PermissionDeniedException() { super(23, null); }
    public PermissionDeniedException(String message) { super(23, message); }
    public PermissionDeniedException(int code, String message) { super(code, message); }
}
