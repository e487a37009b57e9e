package com.vesk.orvanex.agent;

import java.util.Properties;

/** A Java module of the agent, started by the host through {@link AgentHelper#startModule}. */
public interface AgentModule {
    /**
     * Starts the module on the host's thread.
     *
     * @param name the module's name
     * @param home the installation home directory
     * @param props the module's properties
     */
    void start(String name, String home, Properties props) throws Exception;
}
