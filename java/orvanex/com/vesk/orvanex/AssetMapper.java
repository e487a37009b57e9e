package com.vesk.orvanex;

/** Maps agent keys to assets and endpoints for the native runtime. */
public interface AssetMapper {
    boolean isValidAgentByKey(String key);
    EndpointData getEndpoint(String key);
    AssetData getAsset(String key);
}
