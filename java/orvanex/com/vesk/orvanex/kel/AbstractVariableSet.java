package com.vesk.orvanex.kel;

/** A set of kel variables as Java sees it. CVariableSet stands for a native set; other subclasses keep their own. */
public abstract class AbstractVariableSet {
    protected long _nativePtr;

    protected AbstractVariableSet() {}
    protected AbstractVariableSet(long p) { _nativePtr = p; }

    public abstract boolean isDefined(String name);
    public abstract void defineVariable(String name, Object value);
    public abstract void setVariable(String name, Object value);
    public abstract Object getVariable(String name);
    public abstract AbstractVariableSet getSubSet(String name);
}
