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

    /**
     * Shows the Java bridge at work: a native attribute set used as a java.util.Map and a native
     * pattern matched from Java.
     */
    static String bridgeLine() {
        try (com.vesk.orvanex.kel.impl.KelMapCImpl map = com.vesk.orvanex.kel.impl.KelMapCImpl.create();
             com.vesk.orvanex.regex.VeskPattern p = com.vesk.orvanex.regex.VeskPattern.createPattern("h(e|a)llo.*", 0)) {
            map.put("greeting", "hello from the native side");
            map.put("answer", 42);
            return "DemoModule bridge: native map " + map + ", pattern matches: "
                    + p.matches(String.valueOf(map.get("greeting")));
        } catch (Exception | LinkageError e) {
            return "DemoModule bridge: not available (" + e + ")";
        }
    }

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
        String bridge = bridgeLine();
        System.out.println(bridge);
        System.out.flush();
        LOG.info(bridge);
        AgentHelper.setReady(true);
        AgentHelper.reportStatus(0, "demo module " + name + " running");
    }
}
