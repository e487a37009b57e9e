package com.vesk.orvanex;

/** A set of named values. */
public interface AnyMap {
    Any getAttribute(String name);
    String[] getAttributeNames();
}
