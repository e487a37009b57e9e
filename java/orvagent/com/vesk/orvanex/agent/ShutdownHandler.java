package com.vesk.orvanex.agent;

/** Told when the host shuts down. */
public interface ShutdownHandler {
    void shutdown();
}
