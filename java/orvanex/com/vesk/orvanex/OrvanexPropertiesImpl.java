package com.vesk.orvanex;

/** The process's configuration (orvanex.properties), read through the native module. */
public class OrvanexPropertiesImpl {
    public OrvanexPropertiesImpl() {}

    /** Re-reads the configuration file when it changed; false when a changed file failed to load. */
    public native boolean testOrvanexProperties();
    public native void setOrvanexPropertiesPath(String path);
    public native String getStringProperty(String key, String def);
    public native int getIntProperty(String key, int def);
    public native int getLevelProperty(String key, int def);
    public native boolean getBooleanProperty(String key, boolean def);
    public native double getDoubleProperty(String key, double def);
    public native Attributes getAllProperties();
}
