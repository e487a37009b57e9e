package com.vesk.orvanex.alert;

/** Told about alert changes. */
public interface AlertListener {
    void alertUpdated(Alert alert);
    void alertDestroyed(String id);
    void onAlertListenerConnected();
    void onAlertListenerDisconnected();
    void onStartSync();
    void onEndSync();
}
