package com.ombrel.vss.win32;

/** IVssWriterComponentsExt: the components of one writer in a backup or restore document. */
public final class VssWriterComponentsExt {
    static {
        System.loadLibrary("omnative-win32-x64");
    }

    private VssWriterComponentsExt() {
    }

    public static native int GetComponentCount(long writerComponents, int[] count);
    public static native int GetWriterInfo(long writerComponents, byte[] instanceId, byte[] writerId);
    public static native int GetComponent(long writerComponents, int index, long[] component);
    public static native int Release(long writerComponents);
}
