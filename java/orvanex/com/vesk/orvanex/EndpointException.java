package com.vesk.orvanex;

/** Directory error 103. */
public class EndpointException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public EndpointException() { super(103, null); }
    public EndpointException(String message) { super(103, message); }
    public EndpointException(int code, String message) { super(code, message); }
}
