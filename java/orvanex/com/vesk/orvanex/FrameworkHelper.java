package com.vesk.orvanex;

/** Small services the native bridge asks of the Java library. */
public final class FrameworkHelper {
    private FrameworkHelper() {}

    /** The primitive classes int, long, float, double, in that order. */
    public static Class<?>[] getPrimitiveTypes() {
        return new Class<?>[] {int.class, long.class, float.class, double.class, boolean.class};
    }
}
