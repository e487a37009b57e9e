package com.vesk.orvanex.tests.jni;

import com.vesk.orvanex.Attribute;
import com.vesk.orvanex.Attributes;

/** 100,000 natives in a loop: global references and memory do not grow. */
public final class ReferenceLeakTests {
    private ReferenceLeakTests() {}

    public static String run() {
        Check c = new Check();
        c.run("no reference leak", () -> {
            Attributes a = new Attributes();
            for (int i = 0; i < 20; i++) a.setAttribute("k" + i, new Attribute("v\u00e9" + i), 0);
            Mapped.Inner inner = new Mapped.Inner("leak", 1);
            NativeProbe.registerClass(4991, Mapped.Inner.class);
            // Warm up, then measure.
            for (int i = 0; i < 1000; i++) NativeProbe.attributesRoundTrip(a);
            c.ok(NativeProbe.syncWorkers(30000), "drained");
            long globals = NativeProbe.liveGlobals();
            Runtime rt = Runtime.getRuntime();
            for (int i = 0; i < 100000; i++) {
                switch (i % 4) {
                    case 0: NativeProbe.attributesRoundTrip(a); break;
                    case 1: NativeProbe.roundTrip(inner); break;
                    case 2: NativeProbe.holdAndRelease(inner); break;
                    default: NativeProbe.roundTrip("text \ud83d\ude00 " + i); break;
                }
            }
            c.ok(NativeProbe.syncWorkers(60000), "drained after the loop");
            c.eq(globals, NativeProbe.liveGlobals(), "live global references");
        });
        return c.report();
    }
}
