package com.ombrel.agentframework.os.win32;

/** The volume a path lies on and the volume behind a mount point. */
public final class VolumeUtil {
    static {
        System.loadLibrary("rasbridge64");
    }

    private VolumeUtil() {
    }

    public static native void init();
    public static native String GetVolumePathName(String path);
    public static native String GetVolumeNameForVolumeMountPoint(String mountPoint);
}
