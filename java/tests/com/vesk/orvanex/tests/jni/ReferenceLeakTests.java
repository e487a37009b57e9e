package com.vesk.orvanex.tests.jni;

import com.vesk.orvanex.Attribute;
import com.vesk.orvanex.Attributes;
import com.vesk.orvanex.kel.CAny;
import com.vesk.orvanex.kel.CAnyMap;
import com.vesk.orvanex.kel.CVariableSet;
import com.vesk.orvanex.kel.Parser;
import com.vesk.orvanex.kel.Result;
import com.vesk.orvanex.kel.Strings;
import com.vesk.orvanex.kel.impl.KelMapCImpl;

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
            Parser rootParser = new Parser("leak", "w.greet(t) + n + w.name + when.getTime()");
            rootParser.registerPrototype(Widget.class);
            CVariableSet vs = new CVariableSet(rootParser.buildRootVarSet());
            vs.defineVariable("w", new Widget("leak"));
            vs.defineVariable("t", "text \ud83d\ude00");
            vs.defineVariable("when", new java.util.Date(5000));
            KelMapCImpl km = KelMapCImpl.create();
            // Warm up, then measure.
            for (int i = 0; i < 1000; i++) {
                NativeProbe.attributesRoundTrip(a);
                kel(c, rootParser, vs, km, i);
            }
            c.ok(NativeProbe.syncWorkers(30000), "drained");
            long globals = NativeProbe.liveGlobals();
            for (int i = 0; i < 100000; i++) {
                switch (i % 5) {
                    case 0: NativeProbe.attributesRoundTrip(a); break;
                    case 1: NativeProbe.roundTrip(inner); break;
                    case 2: NativeProbe.holdAndRelease(inner); break;
                    case 3: kel(c, rootParser, vs, km, i); break;
                    default: NativeProbe.roundTrip("text \ud83d\ude00 " + i); break;
                }
            }
            c.ok(NativeProbe.syncWorkers(60000), "drained after the loop");
            c.eq(globals, NativeProbe.liveGlobals(), "live global references");
            km.close();
            vs.close();
            rootParser.close();
        });
        return c.report();
    }

    static int failures;

    /** One round of the kel natives: an evaluation that calls Java, variables, values, maps, expansion. */
    static void kel(Check c, Parser p, CVariableSet vs, KelMapCImpl km, int i) {
        vs.setVariable("n", i);
        Result r = p.executeExpression(null, vs);
        if (!r.isSuccess() && failures++ < 3) c.ok(false, "evaluation " + i + ": " + r);
        r.close();
        Object back = vs.getVariable("t");
        if (!(back instanceof String)) c.ok(false, "variable read " + i);
        CAnyMap m = new CAnyMap();
        m.setAttribute("k", "v" + i, 0);
        m.setAttribute("when", 1000L * i, 13);
        CAny v = (CAny) m.getAttribute("k");
        if (!("v" + i).equals(v.getString())) c.ok(false, "map read " + i);
        v.close();
        m.close();
        km.put("k", i);
        km.get("k");
        Result e = Strings.expand(null, "leak", "<? n ?>", vs, 0, 5);
        e.close();
    }
}
