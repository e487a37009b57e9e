package com.vesk.orvanex.kel;

import com.vesk.orvanex.MultiTypeString;
import com.vesk.orvanex.Principal;

/** A compiled kel text (expression, script or scriptlet). Close it when done. */
public class Parser implements AutoCloseable {
    protected long _nativePtr;
    protected long _nativePtrStdout;
    protected long _nativePtrTraceout;
    protected String code;
    protected String source;
    protected AbstractVariableSet vs;

    public Parser(String source, String code) { this(source, code, null, false); }

    public Parser(String source, String code, AbstractVariableSet vs, boolean scriptlet) {
        this.source = source;
        this.code = code;
        this.vs = vs;
        open(scriptlet);
    }

    private native void open(boolean scriptlet);
    private native void close(long p);

    /** Frees the native parser and its output files (they are read and cleared natively); twice is harmless. */
    @Override public synchronized void close() {
        long p = _nativePtr;
        _nativePtr = 0;
        close(p);
    }

    public native Result parse();
    public native Result parseScript();
    public native Result parseJSON();
    public native Result executeScript(Principal principal, AbstractVariableSet vars);
    public native Result executeExpression(Principal principal, AbstractVariableSet vars);
    public native CVariableSet buildRootVarSet();
    public native void registerPrototype(Class<?> cls);
    public native void defineMtsString(AbstractVariableSet vars, String name, MultiTypeString mts);
    public native void setLogLevel(int level);
    public native void setFlags(int bits);

    /** Calls a member function of a Java object for kel (by name, with matching argument count). */
    public static Object callHelper(Object target, Principal principal, String name, Object[] args) throws Exception {
        return InvocationHelper.invoke(target, args, name);
    }

    /** Reads a public field of a Java object for kel. */
    public static Object fieldHelper(Object target, Principal principal, String name) throws Exception {
        try {
            return target.getClass().getField(name).get(target);
        } catch (NoSuchFieldException e) {
            throw new com.vesk.orvanex.NotImplementedException(21, name);
        }
    }
}
