package com.ombrel.vss.win32;

/** VSS_SNAPSHOT_PROP: the properties of one snapshot, read from their native block. */
public final class VssSnapshotProperties {
    static {
        System.loadLibrary("omnative-win32-x64");
    }

    private VssSnapshotProperties() {
    }

    public static native void GetSnapshotId(long properties, byte[] id);
    public static native void GetSnapshotSetId(long properties, byte[] id);
    public static native int GetSnapshotsCount(long properties);
    public static native int GetSnapshotDeviceObjectLength(long properties);
    public static native void GetSnapshotDeviceObject(long properties, char[] text);
    public static native int GetOriginalVolumeNameLength(long properties);
    public static native void GetOriginalVolumeName(long properties, char[] text);
    public static native int GetOriginatingMachineLength(long properties);
    public static native void GetOriginatingMachine(long properties, char[] text);
    public static native int GetServiceMachineLength(long properties);
    public static native void GetServiceMachine(long properties, char[] text);
    public static native int GetExposedNameLength(long properties);
    public static native void GetExposedName(long properties, char[] text);
    public static native int GetExposedPathLength(long properties);
    public static native void GetExposedPath(long properties, char[] text);
    public static native void GetProviderId(long properties, byte[] id);
    public static native int GetSnapshotAttributes(long properties);
    public static native long GetCreationTimestamp(long properties);
    public static native int GetStatus(long properties);
    public static native void VssFreeSnapshotProperties(long properties);
}
