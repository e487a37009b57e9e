package com.vesk.orvanex.agent;

/** Domain management through the native module. */
public final class DomainHelper {
    private DomainHelper() {}

    public static native String add(String a, String b, String c, String d);
    public static native void remove(String a, String b, String c, String d);
    public static native void registerIdentifyHelper(IdentifyHelper helper);
    public static native String updateCert(String a, String b);
}
