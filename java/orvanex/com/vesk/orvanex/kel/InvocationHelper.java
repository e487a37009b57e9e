package com.vesk.orvanex.kel;

import java.lang.reflect.Constructor;
import java.lang.reflect.Method;

/** Calls Java methods and constructors by name for kel scripts. */
public final class InvocationHelper {
    private InvocationHelper() {}

    public static Object invoke(Object target, Object[] args, String name) throws Exception {
        Object[] a = args == null ? new Object[0] : args;
        for (Method m : target.getClass().getMethods()) {
            if (m.getName().equals(name) && m.getParameterCount() == a.length) return m.invoke(target, a);
        }
        throw new com.vesk.orvanex.NoMethodException(53, name);
    }

    public static Object construct(String className, Object[] args) throws Exception {
        Object[] a = args == null ? new Object[0] : args;
        for (Constructor<?> c : Class.forName(className).getConstructors()) {
            if (c.getParameterCount() == a.length) return c.newInstance(a);
        }
        throw new com.vesk.orvanex.NoMethodException(53, className);
    }
}
