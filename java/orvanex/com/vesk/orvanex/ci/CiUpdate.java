package com.vesk.orvanex.ci;

/** A configuration-item update. */
public class CiUpdate implements java.io.Serializable {
    private static final long serialVersionUID = 1L;
    public static int objectID = 4882;

    public CiUpdate() {}
}
