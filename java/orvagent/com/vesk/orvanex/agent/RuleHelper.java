package com.vesk.orvanex.agent;

import com.vesk.orvanex.alert.RuleSet;

/** Gives the native runtime the rule sets of an asset. */
public interface RuleHelper {
    RuleSet[] getRules(String name);
}
