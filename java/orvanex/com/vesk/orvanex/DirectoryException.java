package com.vesk.orvanex;

/** A directory operation failed; carries the directory error code. */
public class DirectoryException extends Exception {
    private static final long serialVersionUID = 1L;
    protected int errorCode;

    public DirectoryException() { this(0, null); }
    public DirectoryException(int code) { this(code, null); }
    public DirectoryException(String message) { this(0, message); }
    public DirectoryException(int code, String message) {
        super(message);
        this.errorCode = code;
    }

    public int getErrorCode() { return errorCode; }

    @Override public String toString() {
        return getClass().getName() + "(" + errorCode + (getMessage() != null ? ", " + getMessage() : "") + ")";
    }
}
