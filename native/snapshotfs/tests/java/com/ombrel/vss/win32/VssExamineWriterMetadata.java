package com.ombrel.vss.win32;

/** IVssExamineWriterMetadata: a writer's description of itself. */
public final class VssExamineWriterMetadata {
    static {
        System.loadLibrary("omnative-win32-x64");
    }

    private VssExamineWriterMetadata() {
    }

    public static native int GetIdentity(long metadata, byte[] instanceId, byte[] writerId, long[] writerName,
            int[] usageType, int[] sourceType);
    public static native int GetFileCounts(long metadata, int[] includeFiles, int[] excludeFiles, int[] components);
    public static native int GetComponent(long metadata, int index, long[] component);
    public static native int GetExcludeFile(long metadata, int index, long[] fileDescriptor);
    public static native int GetRestoreMethod(long metadata, int[] method, long[] service, long[] userProcedure,
            int[] writerRestore, boolean[] rebootRequired, int[] mappingCount);
    public static native int GetAlternateLocationMapping(long metadata, int index, long[] fileDescriptor);
    public static native int GetBackupSchema(long metadata, int[] schema);
    public static native int SaveAsXML(long metadata, long[] document);
    public static native int LoadFromXML(long metadata, long document);
}
