package com.vesk.orvanex.agent;

import com.vesk.orvanex.OrvEvent;

/** System events between the agent and the host. */
public final class OrvEventHelper {
    private OrvEventHelper() {}

    public static native void addOrvEventListener(OrvEventListener listener);
    public static native void broadcastEvent(OrvEvent event);
}
