package com.vesk.orvanex.wf;

/** Directory error 102. */
public class WorkflowException extends com.vesk.orvanex.DirectoryException {
    private static final long serialVersionUID = 1L;

    public WorkflowException() { super(102, null); }
    public WorkflowException(String message) { super(102, message); }
    public WorkflowException(int code, String message) { super(code, message); }
}
