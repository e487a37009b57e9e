package com.vesk.orvanex.alert;

/** A set of alert rules. */
public class RuleSet implements java.io.Serializable {
    private static final long serialVersionUID = 1L;
    public static int objectID = 2605;

    public RuleSet() {}
}
