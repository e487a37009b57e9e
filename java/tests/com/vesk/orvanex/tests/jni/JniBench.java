package com.vesk.orvanex.tests.jni;

import com.vesk.orvanex.Attribute;
import com.vesk.orvanex.Attributes;
import com.vesk.orvanex.kel.CAny;
import com.vesk.orvanex.kel.CAnyMap;
import com.vesk.orvanex.kel.impl.KelMapCImpl;

/** The loops bench_jni times inside the VM; each returns the nanoseconds that n calls took. */
public final class JniBench {
    private JniBench() {}

    public static native int nop(int x);
    public static native Attributes attributesRoundTrip(Attributes a);

    static int sink;

    public static long floor(int n) {
        long t = System.nanoTime();
        int s = 0;
        for (int i = 0; i < n; i++) s += nop(i);
        sink = s;
        return System.nanoTime() - t;
    }

    public static long cAnyMapPutGet(int n) {
        CAnyMap m = new CAnyMap();
        long t = System.nanoTime();
        for (int i = 0; i < n; i++) {
            m.setAttribute("key", i, 0);
            CAny v = (CAny) m.getAttribute("key");
            sink += v.getInt32();
            v.close();
        }
        long d = System.nanoTime() - t;
        m.close();
        return d;
    }

    public static long kelMapPutGet(int n) {
        KelMapCImpl m = KelMapCImpl.create();
        long t = System.nanoTime();
        for (int i = 0; i < n; i++) {
            m.put("key", i);
            sink += (Integer) m.get("key");
        }
        long d = System.nanoTime() - t;
        m.close();
        return d;
    }

    private static Attributes hundred() {
        Attributes a = new Attributes();
        for (int i = 0; i < 100; i++) {
            a.setAttribute("name" + i, i % 3 == 0 ? new Attribute("value " + i) : i % 3 == 1 ? new Attribute(i)
                           : new Attribute(i * 0.5), 0);
        }
        return a;
    }

    public static long attributes100RoundTrip(int n) {
        Attributes a = hundred();
        long t = System.nanoTime();
        for (int i = 0; i < n; i++) sink += attributesRoundTrip(a).size();
        return System.nanoTime() - t;
    }
}
