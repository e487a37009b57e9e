package com.vesk.orvanex.agent;

import com.vesk.orvanex.ci.CiUpdate;

/** Receives configuration-item updates from the host. */
public interface CiUpdateListener {
    void handleEvent(CiUpdate update);
}
