package com.vesk.orvanex;

import java.lang.reflect.Method;

/** Invokes a method of a Java directory provider's object by name. */
public final class DirectoryInvocationHelper {
    private DirectoryInvocationHelper() {}

    public static Object invoke(Object target, Principal principal, DirectoryObject object, String method,
                                Object[] args) throws Exception {
        Object[] a = args == null ? new Object[0] : args;
        for (Method m : target.getClass().getMethods()) {
            if (m.getName().equals(method) && m.getParameterCount() == a.length) return m.invoke(target, a);
        }
        throw new NoMethodException(53, method);
    }
}
