package com.vesk.orvanex;

/** Told when an asynchronous directory call completes. */
public interface FutureResultListener {
    void onComplete(FutureResult result);
}
