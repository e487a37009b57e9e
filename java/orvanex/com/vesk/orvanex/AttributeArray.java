package com.vesk.orvanex;

import java.util.ArrayList;

/** The Java form of a native array of values. */
public class AttributeArray extends ArrayList<Object> implements AnyArray, Any {
    private static final long serialVersionUID = 1L;

    public AttributeArray() {}

    public boolean add(Any value) { return super.add(value); }

    @Override public int getType() { return 1030; }
}
