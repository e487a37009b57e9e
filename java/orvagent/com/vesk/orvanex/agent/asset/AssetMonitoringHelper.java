package com.vesk.orvanex.agent.asset;

/** Asks the host to monitor assets. */
public final class AssetMonitoringHelper {
    private AssetMonitoringHelper() {}

    public static native void startAssetMonitor(String name);
    public static native void stopAssetMonitor(String name);
}
