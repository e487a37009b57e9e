package com.vesk.orvanex;

/** A system event. */
public class OrvEvent implements java.io.Serializable {
    private static final long serialVersionUID = 1L;
    public static int objectID = 4987;

    public OrvEvent() {}
}
