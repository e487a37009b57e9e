package com.vesk.orvanex.agent.asset;

import com.vesk.orvanex.AssetMapper;

/** Installs the agent's asset mapper in the native runtime. */
public final class AssetMapperHelper {
    private AssetMapperHelper() {}

    public static native void setAssetMapper(AssetMapper mapper);
}
