package com.ombrel.vss.win32;

/** IVssComponent: one component's state in a backup or restore document. */
public final class VssWriterComponentExt {
    static {
        System.loadLibrary("omnative-win32-x64");
    }

    private VssWriterComponentExt() {
    }

    public static native int GetLogicalPath(long component, long[] text);
    public static native int GetComponentType(long component, int[] type);
    public static native int GetComponentName(long component, long[] text);
    public static native int GetBackupSucceeded(long component, boolean[] succeeded);
    public static native int GetAlternateLocationMappingCount(long component, int[] count);
    public static native int GetPartialFileCount(long component, int[] count);
    public static native int IsSelectedForRestore(long component, boolean[] selected);
    public static native int GetAdditionalRestores(long component, boolean[] additional);
    public static native int GetNewTargetCount(long component, int[] count);
    public static native int GetDirectedTargetCount(long component, int[] count);
    public static native int GetRestoreTarget(long component, int[] target);
    public static native int GetPreRestoreFailureMsg(long component, long[] text);
    public static native int GetPostRestoreFailureMsg(long component, long[] text);
    public static native int GetBackupStamp(long component, long[] text);
    public static native int GetPreviousBackupStamp(long component, long[] text);
    public static native int GetBackupOptions(long component, long[] text);
    public static native int GetRestoreOptions(long component, long[] text);
    public static native int GetRestoreSubcomponentCount(long component, int[] count);
    public static native int GetFileRestoreStatus(long component, int[] status);
    public static native int GetDifferencedFilesCount(long component, int[] count);
}
