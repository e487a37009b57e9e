package com.vesk.orvanex.kel;

/** A native kel variable set. Close it when done. */
public class CVariableSet extends AbstractVariableSet implements AutoCloseable {
    public CVariableSet() { open(null); }
    public CVariableSet(CVariableSet parent) { open(parent); }
    public CVariableSet(long p) { super(p); }

    private native void open(CVariableSet parent);
    private native void close(long p);

    @Override public synchronized void close() {
        long p = _nativePtr;
        _nativePtr = 0;
        close(p);
    }

    @Override public native boolean isDefined(String name);
    public native void defineVariable(String name);
    @Override public native void defineVariable(String name, Object value);
    @Override public native void setVariable(String name, Object value);
    @Override public native Object getVariable(String name);
    public native void unsetVariable(String name);
    @Override public native AbstractVariableSet getSubSet(String name);
    public native void setSubSet(String name, AbstractVariableSet set);
    public native void defineSubSet(String name, AbstractVariableSet set);
    public native String[] getLocalVariables();
    public native void clear();
    public native void setThis(CAnyMap map);
    public native void clearThis();
    public native CAnyMap getThis();
}
