package com.ombrel.vss.win32;

/** Entry points of the Volume Shadow Copy requestor API. */
public final class VssApi {
    static {
        System.loadLibrary("omnative-win32-x64");
    }

    private VssApi() {
    }

    public static native int CreateVssBackupComponents0(long[] components);
    public static native int CreateVssExamineWriterMetadata(long document, long[] metadata);
}
