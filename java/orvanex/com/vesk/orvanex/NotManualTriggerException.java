package com.vesk.orvanex;

/** Directory error 58. */
public class NotManualTriggerException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public NotManualTriggerException() { super(58, null); }
    public NotManualTriggerException(String message) { super(58, message); }
    public NotManualTriggerException(int code, String message) { super(code, message); }
}
