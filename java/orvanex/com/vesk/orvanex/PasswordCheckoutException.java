package com.vesk.orvanex;

/** Directory error 115. */
public class PasswordCheckoutException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public PasswordCheckoutException() { super(115, null); }
    public PasswordCheckoutException(String message) { super(115, message); }
    public PasswordCheckoutException(int code, String message) { super(code, message); }
}
