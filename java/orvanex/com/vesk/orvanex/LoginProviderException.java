package com.vesk.orvanex;

/** Directory error 119. */
public class LoginProviderException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public LoginProviderException() { super(119, null); }
    public LoginProviderException(String message) { super(119, message); }
    public LoginProviderException(int code, String message) { super(code, message); }
}
