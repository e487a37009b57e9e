package com.vesk.orvanex.grouping.exceptions;

/** Directory error 112. */
public class GroupException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public GroupException() { super(112, null); }
    public GroupException(String message) { super(112, message); }
    public GroupException(int code, String message) { super(code, message); }
}
