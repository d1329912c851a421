package com.ombrel.vss.win32;

/** IVssAsync: an asynchronous Volume Shadow Copy operation. */
public final class VssAsync {
    static {
        System.loadLibrary("omnative-win32-x64");
    }

    private VssAsync() {
    }

    public static native int Wait(long async, int milliseconds);
    public static native int Cancel(long async);
    public static native int QueryStatus(long async, int[] status);
    public static native int Release(long pointer);
}
