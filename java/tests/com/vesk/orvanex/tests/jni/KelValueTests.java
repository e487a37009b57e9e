package com.vesk.orvanex.tests.jni;

import com.vesk.orvanex.Attribute;
import com.vesk.orvanex.AttributeArray;
import com.vesk.orvanex.DirectoryException;
import com.vesk.orvanex.TypeException;
import com.vesk.orvanex.kel.CAny;
import com.vesk.orvanex.kel.CAnyArray;
import com.vesk.orvanex.kel.CAnyMap;
import com.vesk.orvanex.kel.impl.KelMapCImpl;
import com.vesk.orvanex.regex.VeskPattern;

import java.util.Arrays;
import java.util.HashMap;
import java.util.Map;

/** The kel value handles from Java: KelMapCImpl as a java.util.Map, CAnyMap, CAnyArray, CAny, patterns. */
public final class KelValueTests {
    private KelValueTests() {}

    public static String run() {
        Check c = new Check();
        c.run("KelMapCImpl is a Map", () -> {
            KelMapCImpl m = KelMapCImpl.create();
            Map<String, Object> map = m;
            c.ok(map.isEmpty(), "new map is empty");
            c.eq(null, map.put("a", 1), "first put returns null");
            c.eq(1, map.put("a", 2), "second put returns the previous value");
            map.put("text", "h\u00e9 \ud83d\ude00");
            map.put("d", 2.5);
            map.put("flag", true);
            c.eq(4, map.size(), "size");
            c.eq(2, map.get("a"), "get");
            c.eq("h\u00e9 \ud83d\ude00", map.get("text"), "non-BMP text");
            c.ok(map.containsKey("d"), "containsKey");
            c.ok(!map.containsKey("zz"), "not containsKey");
            c.ok(!map.containsKey(7), "a non-string key");
            c.eq(null, map.remove("a"), "remove returns null");
            c.eq(4, map.size(), "and leaves the map unchanged");
            map.clear();
            c.eq(4, map.size(), "clear does nothing");
            Map<String, Object> expected = new HashMap<>();
            expected.put("a", 2);
            expected.put("text", "h\u00e9 \ud83d\ude00");
            expected.put("d", 2.5);
            expected.put("flag", true);
            c.eq(expected, new HashMap<>(map), "copy into a HashMap (entrySet)");
            c.eq(expected.keySet(), map.keySet(), "keySet");
            c.eq(2, m.getIntAttribute("a"), "typed int");
            c.eq(2.5, m.getDoubleAttribute("d"), "typed double");
            c.eq(true, m.getBooleanAttribute("flag"), "typed boolean");
            m.setAttribute("n", 5L, 3);
            c.eq(3, m.getDisplayHint("n"), "display hint");
            Map<String, Object> copy = (KelMapCImpl) m.clone();
            copy.put("a", 99);
            c.eq(2, map.get("a"), "clone is independent");
            c.ok(m.toString().contains("text"), "toString: " + m);
            try {
                map.put("bad", new Thread());
                c.ok(false, "an unconvertible value throws");
            } catch (RuntimeException e) {
                c.ok(false, "unexpected " + e);
            } catch (Exception e) {
                c.ok(e instanceof DirectoryException, "a DirectoryException");
            }
            ((KelMapCImpl) copy).close();
            m.close();
            m.close();
        });
        c.run("CAnyMap and CAnyArray", () -> {
            CAnyMap m = new CAnyMap();
            m.setAttribute("i", 7, 0);
            m.setAttribute("s", "x y", 0);
            m.setAttribute("when", 1700000000000L, 13);
            CAnyArray arr = new CAnyArray();
            arr.add(CAny.createString("one"));
            arr.add(new Attribute(2));
            arr.add((com.vesk.orvanex.Any) null);
            arr.add(new AttributeArray());
            c.eq(4, arr.size(), "array size (an illegal value leaves an empty slot)");
            m.setAttribute("arr", arr);
            CAny i = (CAny) m.getAttribute("i");
            c.eq(7, i.getInt32(), "int32");
            try {
                ((CAny) m.getAttribute("s")).getInt32();
                c.ok(false, "getInt32 on a string throws");
            } catch (TypeException e) {
                c.ok(true, "");
            }
            c.eq("x y", ((CAny) m.getAttribute("s")).getString(), "string");
            c.eq(Arrays.asList("arr", "when", "s", "i"), Arrays.asList(m.getAttributeNames()), "names newest first");
            c.eq("one", ((CAny) arr.get(0)).getString(), "array element");
            CAny old = (CAny) arr.set(0, CAny.createString("uno"));
            c.eq("one", old.getString(), "set returns the previous element");
            c.eq("uno", ((CAny) arr.get(0)).getString(), "and replaces it");
            try {
                arr.set(10, null);
                c.ok(false, "an index outside the array throws");
            } catch (RuntimeException e) {
                c.ok(false, "unexpected " + e);
            } catch (Exception e) {
                c.ok(e instanceof DirectoryException, "a DirectoryException");
            }
            c.ok(m.toHTTPQuery().contains("s=x"), "http query: " + m.toHTTPQuery());
            old.close();
            i.close();
            arr.close();
            m.close();
        });
        c.run("patterns", () -> {
            VeskPattern p = VeskPattern.createPattern("a(b|c)+d", 0);
            c.ok(!p.isError(), "compiles");
            c.ok(p.matches("abcbd"), "matches");
            c.ok(!p.matches("abd!"), "whole text");
            VeskPattern u = VeskPattern.createPattern("\u00e9.\ud83d\ude00", 0);
            c.ok(u.matches("\u00e9x\ud83d\ude00"), "non-BMP subject");
            VeskPattern bad = VeskPattern.createPattern("a(", 0);
            c.ok(bad.isError(), "a bad pattern is an error");
            c.ok(bad.getErrorMessage() != null && !bad.getErrorMessage().isEmpty(), "with a message");
            c.ok(!bad.matches("a("), "and never matches");
            p.close();
            p.close();
            u.close();
            bad.close();
        });
        return c.report();
    }
}
