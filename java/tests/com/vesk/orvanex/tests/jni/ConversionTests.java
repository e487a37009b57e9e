package com.vesk.orvanex.tests.jni;

import com.vesk.orvanex.Acl;
import com.vesk.orvanex.Attribute;
import com.vesk.orvanex.AttributeArray;
import com.vesk.orvanex.Attributes;
import com.vesk.orvanex.DirName;
import com.vesk.orvanex.DirectoryException;
import com.vesk.orvanex.DirectoryIOException;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Date;

/** Conversions between Java and native values, both ways, with round trips. */
public final class ConversionTests {
    private ConversionTests() {}

    static String hex(byte[] b) {
        StringBuilder s = new StringBuilder();
        for (byte x : b) s.append(String.format("%02x", x & 0xff));
        return s.toString();
    }

    public static String run() {
        Check c = new Check();
        c.run("scalars", () -> {
            Object[] values = {Boolean.TRUE, Boolean.FALSE, 42, Integer.MIN_VALUE, 1L << 40, 1.5f, -2.25d, "",
                               "plain", null};
            int[] types = {2, 2, 3, 3, 4, 5, 6, 7, 7, -1};
            for (int i = 0; i < values.length; i++) {
                c.eq(values[i], NativeProbe.roundTrip(values[i]), "round trip of " + values[i]);
                c.eq(types[i], NativeProbe.nativeType(values[i]), "native type of " + values[i]);
            }
        });
        c.run("texts", () -> {
            String[] texts = {"h\u00e9llo w\u00f6rld", "\u65e5\u672c\u8a9e", "emoji \ud83d\ude00 and \ud834\udd1e",
                              "nul\u0000inside", "\ud800lone"};
            for (String t : texts) {
                String back = (String) NativeProbe.roundTrip(t);
                if (t.startsWith("\ud800")) {
                    c.eq("\ufffdlone", back, "a lone surrogate becomes U+FFFD");
                } else {
                    c.eq(t, back, "round trip of a text");
                }
            }
            // The native side holds standard UTF-8: four bytes for a character outside the BMP.
            String s = "a\ud83d\ude00b";
            c.eq(hex(s.getBytes(StandardCharsets.UTF_8)), NativeProbe.nativeBytes(s), "UTF-8 bytes outside the BMP");
            c.eq("\u00e9\ud83d\ude00", NativeProbe.fromNativeBytes("c3a9f09f9880"), "native UTF-8 to Java");
            c.eq("a\ufffdb", NativeProbe.fromNativeBytes("61ff62"), "bad native bytes become U+FFFD");
        });
        c.run("attribute", () -> {
            Attribute s = new Attribute("text");
            s.setMtsType(9);
            Attribute back = NativeProbe.attributeRoundTrip(s);
            c.eq("text", back.getString(), "string value");
            c.eq(9, back.getMtsType(), "multi-type-string type kept");
            Attribute l = new Attribute(5L);
            l.setMtsType(13);
            c.eq(5L, NativeProbe.attributeRoundTrip(l).getInt64(), "int64");
            c.eq(3.5, NativeProbe.attributeRoundTrip(new Attribute(3.5)).getDouble(), "double");
            c.eq(true, NativeProbe.attributeRoundTrip(new Attribute(true)).getBoolean(), "bool");
            c.eq(-7, NativeProbe.attributeRoundTrip(new Attribute(-7)).getInt32(), "int32");
            Attribute huge = new Attribute("x");
            huge.setMtsType(70000);
            c.eq(null, NativeProbe.attributeRoundTrip(huge), "a subtype that does not fit is refused");
            // A date: Long through toJavaObject, Date through anyToJavaAttribute.
            c.eq(1234L, NativeProbe.int64Object(1234, 13), "date as Long");
            c.eq(new Date(1234), NativeProbe.int64Attribute(1234, 13), "date as Date");
        });
        c.run("attributes", () -> {
            Attributes a = new Attributes();
            a.setAttribute("n", new Attribute(1), 0);
            a.setAttribute("s", new Attribute("\u00fcber \ud83d\ude00"), 5);
            a.setAttribute("d", new Attribute(2.5), 0);
            a.setAttribute("nul", null, 0);
            AttributeArray arr = new AttributeArray();
            arr.add((com.vesk.orvanex.Any) new Attribute("x"));
            arr.add((com.vesk.orvanex.Any) new Attribute(3L));
            a.setAttribute("arr", new Attribute(arr), 0);
            Attributes back = NativeProbe.attributesRoundTrip(a);
            c.eq(Arrays.asList(a.getAttributeNames()), Arrays.asList(back.getAttributeNames()), "names in order");
            c.eq(1, ((Attribute) back.getAttribute("n")).getInt32(), "int");
            c.eq("\u00fcber \ud83d\ude00", ((Attribute) back.getAttribute("s")).getString(), "text");
            c.eq(5, back.getFlags("s"), "flags");
            Object inner = ((Attribute) back.getAttribute("arr")).getObject();
            c.ok(inner instanceof AttributeArray, "array comes back as an AttributeArray: " + inner);
            if (inner instanceof AttributeArray) {
                c.eq("x", ((Attribute) ((AttributeArray) inner).get(0)).getString(), "array element");
            }
            c.eq(a.size(), ((Attributes) NativeProbe.roundTrip(a)).size(), "through toCObject too");
        });
        c.run("names and acls", () -> {
            DirName n = NativeProbe.parseDirName("/host:name=alpha,port=22/dir:name=<x+1>");
            c.ok(n != null, "parsed");
            c.eq(2, n.size(), "two entries");
            c.eq("host", n.get(0).getClassname(), "class");
            c.eq(2, n.get(0).getAttributeCount(), "naming attributes");
            c.ok(n.get(1).isAttributeExpression(0), "expression kept");
            c.eq(NativeProbe.canonicalDirName("/host:name=alpha,port=22/dir:name=<x+1>"), NativeProbe.dirNameText(n),
                 "and back");
            Acl acl = new Acl("o=alice;r=*");
            c.eq(acl, NativeProbe.aclRoundTrip(acl), "acl");
        });
        c.run("reflective copy", () -> {
            NativeProbe.registerClass(4990, Mapped.class);
            NativeProbe.registerClass(4991, Mapped.Inner.class);
            Mapped m = new Mapped();
            m.b = 99;
            m.c = 12;
            m.d = "d\u00e9 \ud83d\ude00";
            m.e = true;
            m.f = -5L;
            m.g = 0.5f;
            m.h = 1e300;
            m.date = new Date(0);
            m.attrs = new Attributes();
            m.attrs.setAttribute("k", new Attribute("v"), 0);
            m.bytes = new byte[] {0, 1, (byte) 255};
            m.texts = new String[] {"a", null, "c"};
            m.opaque = new ArrayList<>(Arrays.asList("x", "y"));
            m.list = new ArrayList<>(Arrays.asList(new Mapped.Inner("one", 1), null, new Mapped.Inner("two", 2)));
            m.inner = new Mapped.Inner("in", 3);
            m.boxed = 77;
            Object o = NativeProbe.roundTrip(m);
            c.ok(o instanceof Mapped, "a Mapped comes back: " + o);
            Mapped r = (Mapped) o;
            c.eq(9, r.b, "transient field not carried (keeps its initial value)");
            c.eq(12, r.c, "int");
            c.eq(m.d, r.d, "String");
            c.eq(true, r.e, "boolean");
            c.eq(-5L, r.f, "long");
            c.eq(0.5f, r.g, "float");
            c.eq(1e300, r.h, "double");
            c.eq(null, r.date, "the epoch itself comes back as null");
            c.eq("v", ((Attribute) r.attrs.getAttribute("k")).getString(), "Attributes field");
            c.ok(Arrays.equals(m.bytes, r.bytes), "byte[]");
            c.ok(Arrays.equals(m.texts, r.texts), "String[] with a null element: " + Arrays.toString(r.texts));
            c.eq(m.opaque, r.opaque, "Object field (serialised)");
            c.eq(m.list, r.list, "ArrayList of mapped objects");
            c.eq(m.inner, r.inner, "nested mapped object");
            c.eq(77, r.boxed, "nested serialisable object");
            m.date = new Date(1700000000123L);
            c.eq(m.date, ((Mapped) NativeProbe.roundTrip(m)).date, "a date");
        });
        c.run("serialised and refused", () -> {
            Plain p = new Plain("\u00e0 la carte", new int[] {1, 2, 3});
            c.eq(p, NativeProbe.roundTrip(p), "a Serializable class without objectID survives unchanged");
            c.eq(17, NativeProbe.toCStatus(new Thread()), "neither objectID nor Serializable: 17");
            c.eq(0, NativeProbe.toCStatus(new Object()), "a plain Object: null with success");
        });
        c.run("exceptions for codes", () -> {
            Object[][] cases = {
                {1, "com.vesk.orvanex.NameFormatException"}, {13, "com.vesk.orvanex.TimeoutException"},
                {17, "com.vesk.orvanex.DirectoryIOException"}, {15, "com.vesk.orvanex.NotFoundException"},
                {20, "com.vesk.orvanex.LoginException"}, {23, "com.vesk.orvanex.PermissionDeniedException"},
                {25, "com.vesk.orvanex.UnexpectedJavaException"}, {29, "com.vesk.orvanex.NotFoundException"},
                {33, "com.vesk.orvanex.AlreadyExistsException"}, {43, "com.vesk.orvanex.DirectoryException"},
                {96, "com.vesk.orvanex.NoLoginException"}, {102, "com.vesk.orvanex.wf.WorkflowException"},
                {112, "com.vesk.orvanex.grouping.exceptions.GroupException"},
                {120, "com.vesk.orvanex.cmdb2.CMDBException"}, {122, "com.vesk.orvanex.DeprecatedException"},
                {77, "com.vesk.orvanex.DirectoryException"}};
            for (Object[] k : cases) {
                Throwable t = NativeProbe.exceptionFor((Integer) k[0], "error", "text");
                c.eq(k[1], t == null ? null : t.getClass().getName(), "class for code " + k[0]);
            }
            DirectoryException d = (DirectoryException) NativeProbe.exceptionFor(77, "error", "the text");
            c.eq(77, d.getErrorCode(), "code carried");
            c.eq("the text", d.getMessage(), "text carried");
            c.eq("No such asset", NativeProbe.exceptionFor(29, null, null).getMessage(), "29");
            c.eq(18, ((DirectoryIOException) NativeProbe.exceptionFor(18, null, "t")).getErrorCode(), "18");
        });
        return c.report();
    }
}
