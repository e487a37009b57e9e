package com.vesk.orvanex;

/** Asset data of an agent. */
public class AssetData implements java.io.Serializable {
    private static final long serialVersionUID = 1L;
    public static int objectID = 4000;

    public AssetData() {}
}
