package com.vesk.orvanex;

/** Directory error 116. */
public class PasswordDecryptException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public PasswordDecryptException() { super(116, null); }
    public PasswordDecryptException(String message) { super(116, message); }
    public PasswordDecryptException(int code, String message) { super(code, message); }
}
