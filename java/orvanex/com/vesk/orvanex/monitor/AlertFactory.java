package com.vesk.orvanex.monitor;

/** Creates alerts and events for Java monitors. */
public class AlertFactory {
    public AlertFactory() {}
}
