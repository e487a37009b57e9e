package com.vesk.orvanex;

/** The result of an asynchronous directory call; stands for a native result. */
public class FutureResult {
    protected long _nativePtr;
    private FutureResultListener listener;

    public FutureResult(long p) { _nativePtr = p; }

    public void setListener(FutureResultListener l) { listener = l; }

    /** Called by the native side on a dispatch worker when the result is complete. */
    public void fireListener() {
        if (listener != null) listener.onComplete(this);
    }
}
