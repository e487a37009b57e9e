package com.vesk.orvanex;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.ObjectInputStream;
import java.io.ObjectStreamClass;

/** Reads Java objects carried through the native side, resolving classes with the context class loader too. */
public class SpecialObjectInputStream extends ObjectInputStream {
    public SpecialObjectInputStream(ByteArrayInputStream in) throws IOException { super(in); }

    @Override protected Class<?> resolveClass(ObjectStreamClass desc) throws IOException, ClassNotFoundException {
        try {
            return super.resolveClass(desc);
        } catch (ClassNotFoundException e) {
            ClassLoader l = Thread.currentThread().getContextClassLoader();
            if (l == null) throw e;
            return Class.forName(desc.getName(), false, l);
        }
    }
}
