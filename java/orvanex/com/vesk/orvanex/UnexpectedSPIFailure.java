package com.vesk.orvanex;

/** Directory error 108. */
public class UnexpectedSPIFailure extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public UnexpectedSPIFailure() { super(108, null); }
    public UnexpectedSPIFailure(String message) { super(108, message); }
    public UnexpectedSPIFailure(int code, String message) { super(code, message); }
}
