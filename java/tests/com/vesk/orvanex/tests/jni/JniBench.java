package com.vesk.orvanex.tests.jni;

import com.vesk.orvanex.Attribute;
import com.vesk.orvanex.Attributes;
import com.vesk.orvanex.kel.CAny;
import com.vesk.orvanex.kel.CAnyMap;
import com.vesk.orvanex.kel.CVariableSet;
import com.vesk.orvanex.kel.Parser;
import com.vesk.orvanex.kel.Result;
import com.vesk.orvanex.kel.impl.KelMapCImpl;

/** The loops bench_jni times inside the VM; each returns the CPU nanoseconds of the calling thread that n calls took. */
public final class JniBench {
    private JniBench() {}

    public static native int nop(int x);
    public static native Attributes attributesRoundTrip(Attributes a);
    /** Java to native only: the size of the native copy. */
    public static native int attributesFromJava(Attributes a);
    /** Native to Java only: a Java copy of the native set last made by attributesFromJava. */
    public static native Attributes attributesToJava();

    static int sink;

    private static final java.lang.management.ThreadMXBean THREADS = java.lang.management.ManagementFactory.getThreadMXBean();

    /** The calling thread's CPU time in ns: the figures hold on a machine shared with other work. */
    static long cpuNow() { return THREADS.getCurrentThreadCpuTime(); }

    public static long floor(int n) {
        long t = cpuNow();
        int s = 0;
        for (int i = 0; i < n; i++) s += nop(i);
        sink = s;
        return cpuNow() - t;
    }

    public static long cAnyMapPutGet(int n) {
        CAnyMap m = new CAnyMap();
        long t = cpuNow();
        for (int i = 0; i < n; i++) {
            m.setAttribute("key", i, 0);
            CAny v = (CAny) m.getAttribute("key");
            sink += v.getInt32();
            v.close();
        }
        long d = cpuNow() - t;
        m.close();
        return d;
    }

    public static long kelMapPutGet(int n) {
        KelMapCImpl m = KelMapCImpl.create();
        long t = cpuNow();
        for (int i = 0; i < n; i++) {
            m.put("key", i);
            sink += (Integer) m.get("key");
        }
        long d = cpuNow() - t;
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

    public static long attributes100FromJava(int n) {
        Attributes a = hundred();
        long t = cpuNow();
        for (int i = 0; i < n; i++) sink += attributesFromJava(a);
        return cpuNow() - t;
    }

    public static long attributes100ToJava(int n) {
        attributesFromJava(hundred());
        long t = cpuNow();
        for (int i = 0; i < n; i++) sink += attributesToJava().size();
        return cpuNow() - t;
    }

    /** executeExpression of "a + 1" with a in a native variable set, then the Result's value closed. */
    public static long executeExpression(int n) {
        Parser p = new Parser("bench", "a + 1");
        CVariableSet vs = new CVariableSet(p.buildRootVarSet());
        vs.defineVariable("a", 41);
        p.parse();
        long t = cpuNow();
        for (int i = 0; i < n; i++) {
            Result r = p.executeExpression(null, vs);
            r.close();
        }
        long d = cpuNow() - t;
        vs.close();
        p.close();
        return d;
    }

    public static long attributes100RoundTrip(int n) {
        Attributes a = hundred();
        long t = cpuNow();
        for (int i = 0; i < n; i++) sink += attributesRoundTrip(a).size();
        return cpuNow() - t;
    }
}
