package com.vesk.orvanex;

/** Directory error 20. */
public class LoginException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public LoginException() { super(20, null); }
    public LoginException(String message) { super(20, message); }
    public LoginException(int code, String message) { super(code, message); }
}
