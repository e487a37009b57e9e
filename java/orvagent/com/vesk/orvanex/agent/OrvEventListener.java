package com.vesk.orvanex.agent;

import com.vesk.orvanex.OrvEvent;

/** Receives system events from the host. */
public interface OrvEventListener {
    void handleEvent(OrvEvent event);
}
