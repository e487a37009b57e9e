package com.vesk.orvanex.kel;

import com.vesk.orvanex.Principal;

/** String expansion with kel: ${...} texts and scriptlets. */
public final class Strings {
    private Strings() {}

    public static native Result expand(Principal principal, String name, String text, AbstractVariableSet vars,
                                       int flags, int level);
    public static native Result expandScriptlet(Principal principal, String name, String text,
                                                AbstractVariableSet vars, boolean a, boolean b, int level);
}
