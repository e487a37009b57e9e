package com.vesk.orvanex.cmdb2;

/** Directory error 120. */
public class CMDBException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public CMDBException() { super(120, null); }
    public CMDBException(String message) { super(120, message); }
    public CMDBException(int code, String message) { super(code, message); }
}
