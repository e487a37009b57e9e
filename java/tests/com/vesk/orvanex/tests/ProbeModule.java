package com.vesk.orvanex.tests;

import com.vesk.orvanex.Attribute;
import com.vesk.orvanex.Attributes;
import com.vesk.orvanex.AnyMap;
import com.vesk.orvanex.agent.AgentHelper;
import com.vesk.orvanex.agent.AgentModule;
import com.vesk.orvanex.agent.LogHelper;
import java.util.Arrays;
import java.util.Properties;
import java.util.TreeMap;

/** A Java module for the tests: it calls the agent natives and keeps what they answered. */
public class ProbeModule implements AgentModule {
    private static volatile String report = "";

    /** One "key=value" line per answer, in a fixed order. */
    public static String report() {
        return report;
    }

    @Override
    public void start(String name, String home, Properties props) {
        StringBuilder out = new StringBuilder();
        line(out, "name", name);
        line(out, "home", home);
        line(out, "props", new TreeMap<>(props).toString());
        line(out, "hostname", AgentHelper.getHostname());
        line(out, "serverMode", AgentHelper.getServerMode());
        line(out, "serves", AgentHelper.getServesDomain());
        line(out, "authenticates", AgentHelper.getAuthenticates());
        line(out, "localAuth", Arrays.toString(AgentHelper.getLocalAuthServices()));
        line(out, "property", AgentHelper.getOrvanexProperty("probe_setting"));
        line(out, "missingProperty", AgentHelper.getOrvanexProperty("no_such_setting"));
        line(out, "nullKeyProperty", AgentHelper.getOrvanexProperty(null));
        AgentHelper.setPassword("probe-key", "s3cret");
        AgentHelper.setPassword("probe-a", "probe-b", "pair-s3cret");
        line(out, "password", AgentHelper.getPassword("probe-key"));
        line(out, "pairPassword", AgentHelper.getPassword("probe-a", "probe-b"));
        line(out, "missingPassword", AgentHelper.getPassword("no-such-key"));
        line(out, "decoded", AgentHelper.decodePassword("plain"));
        line(out, "decodedNull", AgentHelper.decodePassword(null));
        line(out, "validateLogin", String.valueOf(AgentHelper.validateLogin("user", "pw")));
        line(out, "loginServiceUser", String.valueOf(AgentHelper.loginServiceUser("svc")));
        AnyMap all = AgentHelper.getOrvanexProperties();
        Attribute probe = all == null ? null : (Attribute) all.getAttribute("probe_setting");
        line(out, "allProperties.probe_setting", probe == null ? null : probe.getString());
        line(out, "allProperties.class", all == null ? null : all.getClass().getName());
        AgentHelper.setThreadMap("probe-thread-map");
        AgentHelper.setReady(true);
        AgentHelper.reportStatus(7, "probe running");
        LogHelper.addLog("probe module started");
        report = out.toString();
    }

    private static void line(StringBuilder out, String key, String value) {
        out.append(key).append('=').append(value).append('\n');
    }
}
