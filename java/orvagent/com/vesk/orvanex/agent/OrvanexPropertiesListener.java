package com.vesk.orvanex.agent;

/** Told when the configuration file has been reloaded. */
public interface OrvanexPropertiesListener {
    void propertiesChanged();
}
