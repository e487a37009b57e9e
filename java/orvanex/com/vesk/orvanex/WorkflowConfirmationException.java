package com.vesk.orvanex;

/** Directory error 70. */
public class WorkflowConfirmationException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public WorkflowConfirmationException() { super(70, null); }
    public WorkflowConfirmationException(String message) { super(70, message); }
    public WorkflowConfirmationException(int code, String message) { super(code, message); }
}
