package com.vesk.orvanex;

/** An array of values. */
public interface AnyArray extends java.util.List<Object> {
}
