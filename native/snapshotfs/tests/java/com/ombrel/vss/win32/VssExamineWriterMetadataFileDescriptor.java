package com.ombrel.vss.win32;

/** IVssWMFiledesc: a file set of a writer's metadata. */
public final class VssExamineWriterMetadataFileDescriptor {
    static {
        System.loadLibrary("omnative-win32-x64");
    }

    private VssExamineWriterMetadataFileDescriptor() {
    }

    public static native int GetPath(long fileDescriptor, long[] path);
    public static native int GetFileSpec(long fileDescriptor, long[] fileSpec);
    public static native int GetRecursive(long fileDescriptor, boolean[] recursive);
    public static native int GetAlternateLocation(long fileDescriptor, long[] alternateLocation);
    public static native int GetBackupTypeMask(long fileDescriptor, int[] mask);
}
