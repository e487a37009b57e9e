package com.vesk.orvanex.agent.demo;

import com.vesk.orvanex.agent.AgentHelper;
import com.vesk.orvanex.agent.AgentModule;
import com.vesk.orvanex.agent.LogHelper;
import java.util.Properties;
import org.apache.commons.logging.Log;
import org.apache.commons.logging.LogFactory;

/**
 * The demo module of the demo home: it shows the agent's path to the host working end to end. It
 * reads the host's settings and the configuration through the natives, reports itself ready and
 * logs what it found.
 */
public class DemoModule implements AgentModule {
    private static final Log LOG = LogFactory.getLog(DemoModule.class);

    @Override
    public void start(String name, String home, Properties props) {
        String greeting = props.getProperty("greeting", "hello");
        String line = "DemoModule " + name + " started: " + greeting
                + "; host " + AgentHelper.getHostname()
                + ", server mode " + AgentHelper.getServerMode()
                + ", serves " + AgentHelper.getServesDomain()
                + ", demo_setting " + AgentHelper.getOrvanexProperty("demo_setting")
                + ", home " + home;
        System.out.println(line);
        System.out.flush();
        LOG.info(line);
        LogHelper.addLog("demo module " + name + " started");
        AgentHelper.setReady(true);
        AgentHelper.reportStatus(0, "demo module " + name + " running");
    }
}
