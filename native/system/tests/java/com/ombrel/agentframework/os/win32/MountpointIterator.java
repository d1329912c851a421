package com.ombrel.agentframework.os.win32;

/** The mount points of a volume, one name at a time. */
public final class MountpointIterator {
    static {
        System.loadLibrary("rasbridge64");
    }

    private MountpointIterator() {
    }

    public static native void init();
    public static native long FindFirstVolumeMountPoint(String volumeRoot, StringBuilder out);
    public static native boolean FindNextVolumeMountPoint(long handle, StringBuilder out);
    public static native boolean FindVolumeMountPointClose(long handle);
}
