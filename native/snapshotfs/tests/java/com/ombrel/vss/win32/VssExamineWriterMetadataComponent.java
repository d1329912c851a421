package com.ombrel.vss.win32;

/** IVssWMComponent: one component of a writer's metadata. */
public final class VssExamineWriterMetadataComponent {
    static {
        System.loadLibrary("omnative-win32-x64");
    }

    private VssExamineWriterMetadataComponent() {
    }

    public static native int GetComponentInfo(long component, long[] info);
    public static native int FreeComponentInfo(long component, long info);
    public static native int LoadComponentInfo(long info, int[] type, long[] logicalPath, long[] componentName,
            long[] caption, long[] icon, int[] iconSize, boolean[] restoreMetadata, boolean[] notifyOnBackupComplete,
            boolean[] selectable, boolean[] selectableForRestore, int[] componentFlags, int[] fileCount,
            int[] databases, int[] logFiles, int[] dependencies);
    public static native int GetFile(long component, int index, long[] fileDescriptor);
    public static native int GetDatabaseFile(long component, int index, long[] fileDescriptor);
    public static native int GetDatabaseLogFile(long component, int index, long[] fileDescriptor);
    public static native int GetDependency(long component, int index, long[] dependency);
}
