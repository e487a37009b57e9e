package com.vesk.orvanex.tests.jni;

import com.vesk.orvanex.Attribute;
import com.vesk.orvanex.MultiTypeString;
import com.vesk.orvanex.kel.CAny;
import com.vesk.orvanex.kel.CAnyArray;
import com.vesk.orvanex.kel.CAnyMap;
import com.vesk.orvanex.kel.CVariableSet;
import com.vesk.orvanex.kel.Error;
import com.vesk.orvanex.kel.Parser;
import com.vesk.orvanex.kel.Result;
import com.vesk.orvanex.kel.Strings;

import java.util.ArrayList;
import java.util.Date;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;

/** kel run from Java: expressions, scripts, scriptlets, shared variable sets, errors, Java objects, threads. */
public final class KelRunTests {
    private KelRunTests() {}

    static final String EMOJI = "h\u00e9 \ud83d\ude00";

    /** Evaluates `code` against `vs`; the Result (closed by the caller). */
    static Result eval(String code, CVariableSet vs) {
        Parser p = new Parser("test", code);
        try {
            return p.executeExpression(null, vs);
        } finally {
            p.close();
        }
    }

    static Object value(Result r) {
        return r.getValue() == null ? null : ((CAny) r.getValue()).getObject();
    }

    public static String run() {
        Check c = new Check();
        Parser rootParser = new Parser("root", "0");
        CVariableSet root = rootParser.buildRootVarSet();

        c.run("expressions", () -> {
            CVariableSet vs = new CVariableSet(root);
            vs.defineVariable("a", 41);
            vs.defineVariable("s", "x");
            vs.defineVariable("d", 2.5);
            vs.defineVariable("big", 1L << 40);
            vs.defineVariable("flag", true);
            Object[][] cases = {
                {"a + 1", 42},
                {"s + a", "x41"},
                {"d * 2", 5.0},
                {"big + 1", (1L << 40) + 1},
                {"flag && a > 40", true},
                {"'" + EMOJI + "' + s", EMOJI + "x"},
                {"[1, 2, 3].length", 3},
            };
            for (Object[] k : cases) {
                Result r = eval((String) k[0], vs);
                c.ok(r.isSuccess(), k[0] + " succeeds: " + r);
                c.eq(k[1], value(r), (String) k[0]);
                r.close();
            }
            Parser p = new Parser("expr", "a * 2");
            c.ok(p.parse().isSuccess(), "parse");
            for (int i = 0; i < 3; i++) {
                vs.setVariable("a", i);
                Result r = p.executeExpression(null, vs);
                c.eq(i * 2, value(r), "a parsed expression runs again with new values");
                r.close();
            }
            p.close();
            vs.close();
        });

        c.run("scripts and scriptlets", () -> {
            CVariableSet vs = new CVariableSet(root);
            vs.defineVariable("who", EMOJI);
            Parser p = new Parser("script", "var n = 0; for (var i = 0; i < 5; i++) { n = n + i; } total = n;", vs, false);
            vs.defineVariable("total", 0);
            Result r = p.executeScript(null, vs);
            c.ok(r.isSuccess(), "script runs: " + r);
            c.eq(10, vs.getVariable("total"), "the script's assignment is seen by Java");
            c.eq("", r.getOutput(), "no output");
            r.close();
            p.close();

            Parser printing = new Parser("print", "console.println('to ' + who); console.print(6 * 7);", vs, false);
            r = printing.executeScript(null, vs);
            c.eq("to " + EMOJI + "\n42", r.getOutput(), "console output is the script's output");
            c.eq("to " + EMOJI + "\n42", ((CAny) r.getValue()).getString(), "and its value");
            r.close();
            r = printing.executeScript(null, vs);
            c.eq("to " + EMOJI + "\n42", r.getOutput(), "each run has its own output");
            r.close();
            printing.close();

            Parser t = new Parser("page", "Hi <? who ?>, <?JS for (var i = 0; i < 3; i++) { ?>[<? i ?>]<?JS } ?>!", vs, true);
            c.ok(t.parseScript().isSuccess(), "scriptlet parses");
            r = t.executeScript(null, vs);
            c.ok(r.isSuccess(), "scriptlet runs: " + r);
            c.eq("Hi " + EMOJI + ", [0][1][2]!", ((CAny) r.getValue()).getString(), "the value is the output");
            c.eq("Hi " + EMOJI + ", [0][1][2]!", r.getOutput(), "and so is the output text");
            r.close();
            t.close();

            r = Strings.expand(null, "expand", "a=<? 1 + 2 ?> b=<? who ?> c=<? undefined ?>", vs, 0, 5);
            c.ok(r.isSuccess(), "expand: " + r);
            c.eq("a=3 b=" + EMOJI + " c=undefined", ((CAny) r.getValue()).getString(), "expanded text");
            r.close();
            r = Strings.expand(null, "expand", "x=<? 1 + ?>", vs, 4, 5);
            c.eq("x=<? 1 + ?>", ((CAny) r.getValue()).getString(), "lenient expansion keeps a failing section");
            r.close();
            r = Strings.expand(null, "expand", "x=<? 1 +", vs, 0, 5);
            c.ok(!r.isSuccess(), "an open section fails");
            c.eq(106, r.getError().getCode(), "with code 106");
            r.close();
            r = Strings.expandScriptlet(null, "let", "<?JS var k = 2; ?>k is <? k * 21 ?>", vs, false, false, 5);
            c.ok(r.isSuccess(), "expandScriptlet: " + r);
            c.eq("k is 42", ((CAny) r.getValue()).getString(), "scriptlet value");
            r.close();
            c.eq(null, Strings.expand(null, null, "x", vs, 0, 5), "a null name gives null");

            Parser j = new Parser("json", "{\"a\": [1, 2, {\"b\": \"" + EMOJI + "\"}]}");
            r = j.parseJSON();
            c.ok(r.isSuccess(), "JSON parses");
            Object parsed = ((CAny) r.getValue()).getObject();
            c.ok(parsed instanceof com.vesk.orvanex.Attributes, "a parsed object is a copy in Java: " + parsed);
            c.ok(((CAny) r.getValue()).toJSON().contains("\\U0001F600"), "JSON text back: " + ((CAny) r.getValue()).toJSON());
            r.close();
            j.close();
            vs.close();
        });

        c.run("errors", () -> {
            CVariableSet vs = new CVariableSet(root);
            Parser p = new Parser("bad.kel", "1 +\n * 2");
            Result r = p.parse();
            c.ok(!r.isSuccess(), "a syntax error fails");
            Error e = r.getError();
            c.ok(e != null, "with an error");
            if (e != null) {
                c.eq(1, e.getType(), "SyntaxError");
                c.eq(105, e.getCode(), "code 105");
                c.ok(e.getLocations().length >= 1, "a location");
                if (e.getLocations().length >= 1) {
                    c.eq("bad.kel", e.getLocations()[0].getSource(), "source name");
                    c.eq(2, e.getLocations()[0].getLine(), "line");
                }
            }
            r = p.executeExpression(null, vs);
            c.ok(!r.isSuccess(), "running it fails too");
            p.close();

            r = eval("nosuch + 1", vs);
            c.ok(!r.isSuccess(), "an unknown variable fails");
            c.ok(r.getError() != null && r.getError().getCode() != 0 && r.getError().getType() > 1,
                 "a run-time error: " + r.getError());
            r = eval("1 / 0", vs);
            c.ok(!r.isSuccess() && r.getError() != null && r.getError().getType() == 5, "TypeError: " + r.getError());

            Parser none = new Parser(null, null);
            c.ok(none.parse().isSuccess(), "a null code is the text none-supplied");
            r = none.executeExpression(null, vs);
            c.ok(!r.isSuccess() && r.getError().getLocations()[0].getSource().equals("none-supplied"),
                 "which names unknown variables, in the source none-supplied: " + r.getError());
            none.close();
            vs.close();
        });

        c.run("variable sets", () -> {
            CVariableSet vs = new CVariableSet(root);
            CVariableSet child = new CVariableSet(vs);
            vs.defineVariable("x", 1);
            c.ok(child.isDefined("x"), "a child sees its parent's names");
            c.ok(!child.isDefined("nosuch"), "not unknown ones");
            child.defineVariable("y");
            c.ok(child.isDefined("y"), "defineVariable(name)");
            c.eq(null, child.getVariable("y"), "an undefined value is null in Java");
            child.defineVariable("y", "why");
            c.eq(java.util.Arrays.asList("y"), java.util.Arrays.asList(child.getLocalVariables()), "local names");
            child.unsetVariable("y");
            c.ok(!child.isDefined("y"), "unsetVariable");

            CAnyMap obj = new CAnyMap();
            obj.setAttribute("n", 1, 0);
            vs.defineVariable("obj", obj);
            Result r = eval("obj.n = obj.n + 1", vs);
            c.ok(r.isSuccess(), "assign a member: " + r);
            r.close();
            c.eq(2, ((CAny) obj.getAttribute("n")).getInt32(), "the script changed the Java map");
            CAnyArray arr = new CAnyArray();
            arr.add(CAny.createString(EMOJI));
            vs.defineVariable("arr", arr);
            r = eval("arr[0] + arr.length", vs);
            c.eq(EMOJI + "1", value(r), "a Java array handle in kel");
            r.close();
            r = eval("o2 = {\"k\": 'v', \"list\": [1, 2]}", vs);
            r.close();
            Object o2 = vs.getVariable("o2");
            c.ok(o2 == null, "an assignment to an unknown name does not create it");
            vs.defineVariable("o2", null);
            r = eval("o2 = {\"k\": 'v', \"list\": [1, 2]}", vs);
            c.ok(r.isSuccess(), "assign an object: " + r);
            r.close();
            o2 = vs.getVariable("o2");
            c.ok(o2 instanceof CAnyMap, "a kel object comes to Java as a CAnyMap: " + o2);
            if (o2 instanceof CAnyMap) {
                CAnyMap m2 = (CAnyMap) o2;
                c.eq("v", ((CAny) m2.getAttribute("k")).getString(), "its member");
                m2.close();
            }
            vs.setThis(obj);
            r = eval("n * 10", vs);
            c.eq(20, value(r), "this-map names are variables");
            r.close();
            CAnyMap got = vs.getThis();
            c.ok(got != null && got.size() == 1, "getThis");
            if (got != null) got.close();
            vs.clearThis();
            c.ok(vs.getThis() == null, "clearThis");

            Date when = new Date(1700000000123L);
            vs.defineVariable("when", when);
            c.eq(when, vs.getVariable("when"), "a Date round trip");
            r = eval("when.getTime() + 1", vs);
            c.eq(1700000000124L, value(r), "a java.util.Date is a kel date");
            r.close();
            r = eval("new Date(86400000).toISOString()", vs);
            c.eq("1970-01-02T00:00:00.000Z", value(r), "kel's own dates");
            r.close();
            vs.defineVariable("TZ", "America/New_York");
            r = eval("new Date(1720000000000).toString()", vs);
            c.ok(String.valueOf(value(r)).endsWith("GMT-0400 (EDT)"), "TZ names a Java zone: " + value(r));
            r.close();
            r = eval("new Date(1720000000000).getDate()", vs);
            c.eq(3, value(r), "the day in that zone");
            r.close();
            vs.unsetVariable("TZ");
            r = eval("d = new Date(1500)", vs);
            r.close();
            vs.defineVariable("d", null);
            r = eval("d = new Date(1500)", vs);
            r.close();
            c.eq(new Date(1500), vs.getVariable("d"), "a kel date comes to Java as a java.util.Date");
            vs.defineVariable("attr", new Attribute(EMOJI));
            c.eq(EMOJI, vs.getVariable("attr"), "an Attribute's text");
            Object[] loop = new Object[1];
            loop[0] = loop;
            try {
                vs.defineVariable("loop", loop);
                c.ok(false, "an array holding itself is refused");
            } catch (RuntimeException e) {
                c.ok(false, "unexpected " + e);
            } catch (Exception e) {
                c.ok(e instanceof com.vesk.orvanex.DirectoryException, "with a DirectoryException: " + e);
            }
            vs.defineVariable("ints", new int[] {4, 5, 6});
            r = eval("ints[1] + ints.length", vs);
            c.eq(8, value(r), "a Java int[] as a kel array");
            r.close();
            rootParser.defineMtsString(vs, "mts", new MultiTypeString(9, "ENUMTEXT"));
            Object mts = vs.getVariable("mts");
            c.ok(mts instanceof Attribute && ((Attribute) mts).getMtsType() == 9, "a typed text is an Attribute: " + mts);
            CVariableSet sub = new CVariableSet();
            sub.defineVariable("inner", 7);
            vs.defineSubSet("sub", sub);
            r = eval("sub.inner * 6", vs);
            c.eq(42, value(r), "a sub-set");
            r.close();
            CVariableSet again = (CVariableSet) vs.getSubSet("sub");
            c.ok(again != null && again.isDefined("inner"), "getSubSet");
            if (again != null) again.close();

            MapVariables mine = new MapVariables();
            mine.values.put("p", 5);
            mine.values.put("q", EMOJI);
            Parser p = new Parser("own", "p = p * 3");
            r = p.executeExpression(null, mine);
            c.ok(r.isSuccess(), "a Java-kept set: " + r);
            c.eq(15, mine.values.get("p"), "written back through setVariable");
            r.close();
            p.close();
            r = eval("q + '!'", null);
            c.ok(!r.isSuccess(), "no set: a fresh root without q");
            r.close();
            Parser p2 = new Parser("own", "q + '!'");
            r = p2.executeExpression(null, mine);
            c.eq(EMOJI + "!", value(r), "read through getVariable");
            r.close();
            p2.close();

            sub.close();
            arr.close();
            obj.close();
            child.close();
            vs.close();
        });

        c.run("Java objects in kel", () -> {
            rootParser.registerPrototype(Widget.class);
            CVariableSet vs = new CVariableSet(root);
            Widget w = new Widget(EMOJI);
            vs.defineVariable("w", w);
            Object[][] cases = {
                {"w.add(2, 3)", 5},
                {"w.greet('you')", "hello you from " + EMOJI},
                {"w.name", EMOJI},
                {"w.nested(21) + 1", 43},
                {"'' + w", "{\"widget\":\"" + EMOJI + "\"}"},
            };
            for (Object[] k : cases) {
                Result r = eval((String) k[0], vs);
                c.ok(r.isSuccess(), k[0] + ": " + r);
                c.eq(k[1], value(r), (String) k[0]);
                r.close();
            }
            Result r = eval("w.bump()", vs);
            c.eq(1, w.count, "a void method ran");
            r.close();
            c.ok(vs.getVariable("w") == w, "the same Java object comes back");
            r = eval("w.fail()", vs);
            c.ok(!r.isSuccess(), "a DirectoryException fails the call");
            c.eq(28, r.getError() == null ? -1 : r.getError().getCode(), "with its code");
            r.close();
            r = eval("w.crash()", vs);
            c.eq(25, r.getError() == null ? -1 : r.getError().getCode(), "another exception is 25");
            r.close();
            r = eval("w.nosuch()", vs);
            c.eq(53, r.getError() == null ? -1 : r.getError().getCode(), "an unknown method is 53");
            r.close();
            vs.close();
        });

        c.run("many threads", () -> {
            final int threads = 8;
            final int runs = 200;
            AtomicInteger bad = new AtomicInteger();
            List<String> problems = java.util.Collections.synchronizedList(new ArrayList<>());
            List<Thread> ts = new ArrayList<>();
            for (int t = 0; t < threads; t++) {
                final int id = t;
                Thread th = new Thread(() -> {
                    CVariableSet vs = new CVariableSet(root);
                    Parser p = new Parser("thread" + id, "base + i * 2 + '" + EMOJI + "'");
                    vs.defineVariable("base", "t" + id + ":");
                    for (int i = 0; i < runs; i++) {
                        vs.setVariable("i", i);
                        Result r = p.executeExpression(null, vs);
                        Object v = value(r);
                        if (!("t" + id + ":" + (i * 2) + EMOJI).equals(v)) {
                            bad.incrementAndGet();
                            if (problems.size() < 5) problems.add(id + "/" + i + ": " + v + " " + r);
                        }
                        r.close();
                        CAnyMap m = new CAnyMap();
                        m.setAttribute("k", i, 0);
                        if (((CAny) m.getAttribute("k")).getInt32() != i) bad.incrementAndGet();
                        m.close();
                    }
                    p.close();
                    vs.close();
                });
                ts.add(th);
                th.start();
            }
            for (Thread th : ts) {
                th.join(TimeUnit.SECONDS.toMillis(60));
                c.ok(!th.isAlive(), "a thread finished in time");
            }
            c.eq(0, bad.get(), "every result right: " + problems);
        });

        c.run("close twice and close of 0", () -> {
            Parser p = new Parser("c", "1");
            p.setLogLevel(1);
            p.close();
            p.close();
            CVariableSet vs = new CVariableSet();
            vs.close();
            vs.close();
            CAny a = CAny.createString("x");
            a.close();
            a.close();
            CAnyMap m = new CAnyMap();
            m.close();
            m.close();
            CAnyArray arr = new CAnyArray();
            arr.close();
            arr.close();
            try {
                p.executeExpression(null, null);
                c.ok(false, "a closed parser throws");
            } catch (RuntimeException e) {
                c.ok(false, "unexpected " + e);
            } catch (Exception e) {
                c.ok(e instanceof com.vesk.orvanex.DirectoryException, "a DirectoryException");
            }
            try {
                vs.isDefined("x");
                c.ok(false, "a closed set throws");
            } catch (RuntimeException e) {
                c.ok(false, "unexpected " + e);
            } catch (Exception e) {
                c.ok(e instanceof com.vesk.orvanex.DirectoryException, "a DirectoryException");
            }
        });

        c.run("values", () -> {
            CAny s = CAny.createString(EMOJI);
            c.eq("string", s.getTypeName(), "type name");
            c.eq("\"" + EMOJI + "\"", s.toJSON(), "toJSON");
            CAny t = (CAny) s.clone();
            c.ok(s.equals(t), "clone is equal");
            c.ok(!s.equals(CAny.createString("y")), "different texts differ");
            CAny n = CAny.create(2.25);
            c.eq(new java.math.BigDecimal("2.25"), n.getBigDecimal(), "getBigDecimal of " + n.getType() + " " + n.getString());
            try {
                n.getBoolean();
                c.ok(false, "getBoolean on a double throws");
            } catch (com.vesk.orvanex.TypeException e) {
                c.ok(true, "");
            }
            CAnyMap m = new CAnyMap();
            m.setAttribute("when", 86400000L, 13);
            CVariableSet withM = varsWith(root, "m", m);
            Result r = eval("m.when.toISOString()", withM);
            c.eq("1970-01-02T00:00:00.000Z", value(r), "flags 13 store a kel date: " + r);
            r.close();
            withM.close();
            CAnyMap copy = (CAnyMap) m.clone();
            c.ok(copy.equals(m), "clone of a map is equal");
            CAny wrapped = CAny.create(m);
            c.ok(wrapped.getMap() != null, "getMap");
            CAnyArray arr = new CAnyArray();
            arr.add(CAny.createString("a"));
            CAny wa = CAny.create(arr);
            c.eq(1, wa.getArray() == null ? -1 : wa.getArray().size(), "getArray");
            c.eq("[\"a\"]", arr.toJSON().replace(" ", ""), "array JSON");
            wa.close();
            wrapped.close();
            arr.close();
            copy.close();
            m.close();
            n.close();
            t.close();
            s.close();
        });

        c.run("the demo module's script", () -> {
            String builtin = com.vesk.orvanex.agent.demo.DemoModule.runKel(
                "builtin", com.vesk.orvanex.agent.demo.DemoModule.BUILTIN_SCRIPT, "box", "hi " + EMOJI);
            c.eq("kel on box says hi " + EMOJI + "; answer = 42 (runs 0)", builtin, "the built-in script");
            String file = System.getProperty("orv.demo.kel");
            if (file != null) {
                String code = new String(java.nio.file.Files.readAllBytes(java.nio.file.Paths.get(file)),
                                         java.nio.charset.StandardCharsets.UTF_8);
                c.eq("kel on box says hello; fib(1..10) = 1 1 2 3 5 8 13 21 34 55; answer = 42 (runs 1)",
                     com.vesk.orvanex.agent.demo.DemoModule.runKel(file, code, "box", "hello"), "the home's script");
            }
        });

        root.close();
        rootParser.close();
        return c.report();
    }

    static CVariableSet varsWith(CVariableSet root, String name, Object v) {
        CVariableSet vs = new CVariableSet(root);
        vs.defineVariable(name, v);
        return vs;
    }
}
