package com.vesk.orvanex.tests.jni;

import com.vesk.orvanex.Acl;
import com.vesk.orvanex.Attribute;
import com.vesk.orvanex.Attributes;
import com.vesk.orvanex.DirName;

/** Natives the bridge's JVM tests register to reach the converters and workers directly. */
public final class NativeProbe {
    private NativeProbe() {}

    /** Java object to native value and back (toCObject, toJavaObject). */
    public static native Object roundTrip(Object o);
    /** The native type code of the value toCObject makes; -1 for none. */
    public static native int nativeType(Object o);
    public static native Attribute attributeRoundTrip(Attribute a);
    public static native Attributes attributesRoundTrip(Attributes a);
    /** Parses a directory name natively and hands it to Java. */
    public static native DirName parseDirName(String text);
    /** The native text of a Java directory name. */
    public static native String dirNameText(DirName name);
    /** The native text of a parsed directory name. */
    public static native String canonicalDirName(String text);
    public static native Acl aclRoundTrip(Acl acl);
    /** The UTF-8 bytes the native side holds for the string, in hex. */
    public static native String nativeBytes(String s);
    /** A Java string from native bytes given in hex. */
    public static native String fromNativeBytes(String hex);
    /** An int64 of the given subtype through anyToJavaAttribute. */
    public static native Object int64Attribute(long v, int subtype);
    /** An int64 of the given subtype through toJavaObject. */
    public static native Object int64Object(long v, int subtype);
    public static native void registerClass(int objectId, Class<?> cls);
    /** toCObject's status for the object. */
    public static native int toCStatus(Object o);
    public static native Throwable exceptionFor(int code, String key, String text);
    /** Throws t natively and returns orvTestException's code. */
    public static native int testExceptionOf(Throwable t);
    /** Runs r and reports a Java exception with orvTestException. */
    public static native int callAndTest(Runnable r);
    /** Runs r on dispatch worker w. */
    public static native boolean runOnWorker(Runnable r, int w);
    public static native void queuePropertiesChanged(Object listener);
    /** Makes a counted global reference and releases it through a worker. */
    public static native void holdAndRelease(Object o);
    public static native long liveGlobals();
    public static native boolean syncWorkers(int timeoutMs);
    public static native int threadHash(String key);
    public static native int workerCount();
    /** orvJniAttach on a new native thread: true when it got an environment. */
    public static native boolean attachFromPlainThread();
    /** orvJniAttach inside this native (which pushed its environment). */
    public static native boolean attachInNative();
    /** A failed assertion, not armed: dumps the Java threads and returns. */
    public static native void failAssertion();
    /** kel's zone hook buildTm: "abbreviation offset year-mon-day hour:min:sec wday yday", or null when declined. */
    public static native String zoneTm(boolean utc, String zone, long seconds);
    /** kel's zone hook buildTime (tm fields as the C library has them); Long.MIN_VALUE when declined. */
    public static native long zoneTime(String zone, int year, int mon, int day, int hour, int min, int sec);
    /** A trivial native: the cost floor of a call. */
    public static native int nop(int x);
}
