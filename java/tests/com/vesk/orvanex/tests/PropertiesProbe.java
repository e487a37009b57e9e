package com.vesk.orvanex.tests;

import com.vesk.orvanex.Attribute;
import com.vesk.orvanex.Attributes;
import com.vesk.orvanex.OrvanexPropertiesImpl;

/** Exercises OrvanexPropertiesImpl for the tests; run() answers one "key=value" line per call. */
public final class PropertiesProbe {
    private PropertiesProbe() {}

    public static String run() {
        OrvanexPropertiesImpl p = new OrvanexPropertiesImpl();
        StringBuilder out = new StringBuilder();
        line(out, "test", String.valueOf(p.testOrvanexProperties()));
        line(out, "string", p.getStringProperty("text_key", "dflt"));
        line(out, "stringDefault", p.getStringProperty("missing_key", "dflt"));
        line(out, "stringNullDefault", String.valueOf(p.getStringProperty("missing_key", null)));
        line(out, "stringNullKey", String.valueOf(p.getStringProperty(null, "dflt")));
        line(out, "unicode", p.getStringProperty("unicode_key", null));
        line(out, "int", String.valueOf(p.getIntProperty("int_key", -1)));
        line(out, "intInvalid", String.valueOf(p.getIntProperty("bad_int_key", -1)));
        line(out, "intNullKey", String.valueOf(p.getIntProperty(null, -3)));
        line(out, "level", String.valueOf(p.getLevelProperty("level_key", 3)));
        line(out, "bool", String.valueOf(p.getBooleanProperty("bool_key", false)));
        line(out, "boolDefault", String.valueOf(p.getBooleanProperty("missing_key", true)));
        line(out, "double", String.valueOf(p.getDoubleProperty("double_key", 0.5)));
        line(out, "doubleNullKey", String.valueOf(p.getDoubleProperty(null, 0.25)));
        Attributes all = p.getAllProperties();
        Attribute text = all == null ? null : (Attribute) all.getAttribute("text_key");
        Attribute dup = all == null ? null : (Attribute) all.getAttribute("dup_key");
        line(out, "all.text_key", text == null ? null : text.getString());
        line(out, "all.text_key.type", text == null ? null : String.valueOf(text.getType()));
        line(out, "all.dup_key", dup == null ? null : dup.getString());
        line(out, "all.size", all == null ? null : String.valueOf(all.size()));
        return out.toString();
    }

    private static void line(StringBuilder out, String key, String value) {
        out.append(key).append('=').append(value).append('\n');
    }
}
