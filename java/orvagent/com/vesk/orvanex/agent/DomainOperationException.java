package com.vesk.orvanex.agent;

/** A domain operation of the host failed. */
public class DomainOperationException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    public DomainOperationException(String message) {
        super(message);
    }
}
