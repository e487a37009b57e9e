package com.vesk.orvanex;

/** A value of the data model as Java sees it. */
public interface Any {
    /** The type code of the value (7 for a text, for example). */
    int getType();
}
