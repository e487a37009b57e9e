package com.vesk.orvanex;

/** A value was read as a type it does not hold. */
public class TypeException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    public TypeException() {}
}
