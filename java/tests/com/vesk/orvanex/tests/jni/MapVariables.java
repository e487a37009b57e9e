package com.vesk.orvanex.tests.jni;

import com.vesk.orvanex.kel.AbstractVariableSet;

import java.util.HashMap;
import java.util.Map;

/** A variable set that Java keeps itself (not a native one). */
public class MapVariables extends AbstractVariableSet {
    public final Map<String, Object> values = new HashMap<>();

    @Override public boolean isDefined(String name) { return values.containsKey(name); }
    @Override public void defineVariable(String name, Object value) { values.put(name, value); }
    @Override public void setVariable(String name, Object value) { values.put(name, value); }
    @Override public Object getVariable(String name) { return values.get(name); }
    @Override public AbstractVariableSet getSubSet(String name) { return null; }
}
