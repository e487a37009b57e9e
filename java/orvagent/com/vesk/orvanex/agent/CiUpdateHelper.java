package com.vesk.orvanex.agent;

/** Configuration-item updates from the host. */
public final class CiUpdateHelper {
    private CiUpdateHelper() {}

    public static native void addCiUpdateListener(CiUpdateListener listener);
}
