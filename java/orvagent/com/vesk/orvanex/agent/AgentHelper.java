package com.vesk.orvanex.agent;

import com.vesk.orvanex.AnyMap;
import com.vesk.orvanex.Directory;
import com.vesk.orvanex.Principal;
import com.vesk.orvanex.alert.RuleSet;
import java.util.Properties;

/**
 * The agent's way to the host: the natives registered by the native module, and the start of the
 * Java modules the host asks for.
 */
public final class AgentHelper {
    private AgentHelper() {}

    /** The module property that names the class of a Java module. */
    public static final String CLASS_PROPERTY = "class";

    /**
     * Starts the Java module {@code name}. Its class is the module property {@code class} when
     * set; otherwise the module name itself, when it is a fully qualified class name (contains a
     * dot). The class implements {@link AgentModule} and has a public no-argument constructor; its
     * {@code start} runs on the calling (host) thread, so a module that keeps working starts its
     * own threads.
     *
     * @throws IllegalArgumentException when no class can be found for the module
     */
    public static void startModule(String name, String home, Properties props) throws Exception {
        Properties p = props == null ? new Properties() : props;
        String className = p.getProperty(CLASS_PROPERTY);
        if (className == null || className.isEmpty()) {
            if (name == null || name.indexOf('.') < 0) {
                throw new IllegalArgumentException("java module " + name
                        + ": no class (set java_module." + name + ".class in orvanex.properties)");
            }
            className = name;
        }
        Class<?> cls = Class.forName(className);
        if (!AgentModule.class.isAssignableFrom(cls)) {
            throw new IllegalArgumentException("java module " + name + ": " + className
                    + " does not implement " + AgentModule.class.getName());
        }
        AgentModule module = (AgentModule) cls.getDeclaredConstructor().newInstance();
        module.start(name, home, p);
    }

    public static native void setPassword(String key, String value);
    public static native void setPassword(String a, String b, String value);
    public static native String getPassword(String key);
    public static native String getPassword(String a, String b);
    public static native String[] validateLogin(String user, String password);
    public static native String[] getNativeGroups(String user);
    public static native String[] getLocalAuthServices();
    public static native String getServesDomain();
    public static native String getAuthenticates();
    public static native Principal loginServiceUser(String name);
    public static native Directory getServesDirectory();
    public static native void notifyRuleSetAddOrChange(RuleSet ruleSet, String[] providers);
    public static native void notifyRuleSetRemoved(String a, String b, String[] providers);
    public static native void registerRuleHelper(RuleHelper helper);
    public static native String getServerMode();
    public static native void setLastTick(long tick);
    public static native void addStatRow(int a, int b, String name, Object[] values);
    public static native void startStatEntry();
    public static native void endStatEntry();
    public static native void setReady(boolean ready);
    public static native String getHostname();
    public static native void addShutdownHandler(ShutdownHandler handler);
    public static native String decodePassword(String text);
    public static native String getOrvanexProperty(String key);
    public static native void addOrvanexPropertiesListener(OrvanexPropertiesListener listener);
    public static native void reportStatus(int code, String text);
    public static native AnyMap getOrvanexProperties();
    public static native void setThreadMap(String text);
}
