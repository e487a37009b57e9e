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

    /** The script run when the home has no scripts/demo.kel. */
    public static final String BUILTIN_SCRIPT = "<?JS var n = 6 * 7; ?>kel on <? host ?> says <? greeting ?>; answer = <? n ?>";

    /**
     * Runs a kel scriptlet text from Java with the variables host, greeting and settings (a native
     * map the script may change) and returns what it printed, or the kel error.
     */
    public static String runKel(String source, String code, String host, String greeting) {
        try (com.vesk.orvanex.kel.Parser p = new com.vesk.orvanex.kel.Parser(source, code, null, true);
             com.vesk.orvanex.kel.CVariableSet vs = new com.vesk.orvanex.kel.CVariableSet(p.buildRootVarSet());
             com.vesk.orvanex.kel.CAnyMap settings = new com.vesk.orvanex.kel.CAnyMap()) {
            settings.setAttribute("answer", 21, 0);
            settings.setAttribute("runs", 0, 0);
            vs.defineVariable("host", host);
            vs.defineVariable("greeting", greeting);
            vs.defineVariable("settings", settings);
            com.vesk.orvanex.kel.Result r = p.executeScript(null, vs);
            try {
                if (!r.isSuccess()) return "error " + r.getError();
                Object runs = vs.getVariable("settings") instanceof com.vesk.orvanex.kel.CAnyMap
                        ? ((com.vesk.orvanex.kel.CAny) settings.getAttribute("runs")).getInt32() : "?";
                return r.getOutput().trim() + " (runs " + runs + ")";
            } finally {
                r.close();
            }
        } catch (Exception | LinkageError e) {
            return "not available (" + e + ")";
        }
    }

    static String kelLine(String home, String greeting) {
        java.nio.file.Path script = java.nio.file.Paths.get(home, "scripts", "demo.kel");
        String code = BUILTIN_SCRIPT;
        String source = "builtin";
        try {
            code = new String(java.nio.file.Files.readAllBytes(script), java.nio.charset.StandardCharsets.UTF_8);
            source = script.toString();
        } catch (java.io.IOException e) {
            // the built-in script instead
        }
        return "DemoModule kel: " + runKel(source, code, AgentHelper.getHostname(), greeting);
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
        String kel = kelLine(home, greeting);
        System.out.println(kel);
        System.out.flush();
        LOG.info(kel);
        AgentHelper.setReady(true);
        AgentHelper.reportStatus(0, "demo module " + name + " running");
    }
}
