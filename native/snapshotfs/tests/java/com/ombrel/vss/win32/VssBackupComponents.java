package com.ombrel.vss.win32;

/** IVssBackupComponents: the requestor's backup and restore session. */
public final class VssBackupComponents {
    static {
        System.loadLibrary("omnative-win32-x64");
    }

    private VssBackupComponents() {
    }

    public static native int AbortBackup(long components);
    public static native int AddComponent(long components, byte[] writerId, byte[] instanceId, int componentType,
            String logicalPath, String componentName);
    public static native int AddRestoreSubcomponent(long components, byte[] writerId, int componentType,
            String logicalPath, String componentName, String subcomponentLogicalPath, String subcomponentName,
            boolean repair);
    public static native int AddToSnapshotSet(long components, String volumeName, byte[] snapshotId);
    public static native int BackupComplete(long components, long[] async);
    public static native int EnableWriterClasses(long components, byte[] classIds, int count);
    public static native int DisableWriterClasses(long components, byte[] classIds, int count);
    public static native int DisableWriterInstances(long components, byte[] instanceIds, int count);
    public static native int DeleteSnapshots(long components, byte[] sourceObjectId, int sourceObjectType,
            boolean forceDelete, int[] deletedCount, byte[] nondeletedSnapshotId);
    public static native int DoSnapshotSet(long components, long[] async);
    public static native int FreeWriterMetadata(long components);
    public static native int FreeWriterStatus(long components);
    public static native int GatherWriterMetadata(long components, long[] async);
    public static native int GatherWriterStatus(long components, long[] async);
    public static native int GetSnapshotProperties(long components, byte[] snapshotId, long[] properties);
    public static native int GetWriterComponents(long components, int index, long[] writerComponents);
    public static native int GetWriterComponentsCount(long components, int[] count);
    public static native int GetWriterMetadata(long components, int index, byte[] instanceId, long[] metadata);
    public static native int GetWriterMetadataCount(long components, int[] count);
    public static native int GetWriterStatus(long components, int index, byte[] writerId, byte[] instanceId,
            long[] writerName, int[] state, int[] failure);
    public static native int GetWriterStatusCount(long components, int[] count);
    public static native int InitializeForBackup(long components);
    public static native int InitializeForRestore(long components, long document);
    public static native int IsVolumeSupported(long components, byte[] providerId, String volumeName,
            boolean[] supported);
    public static native int PrepareForBackup(long components, long[] async);
    public static native int PreRestore(long components, long[] async);
    public static native int PostRestore(long components, long[] async);
    public static native int SaveAsXML(long components, long[] document);
    public static native int SetBackupState(long components, boolean selectComponents,
            boolean backupBootableSystemState, int backupType, boolean partialFileSupport);
    public static native int SetBackupOptions(long components, byte[] writerId, int componentType, String logicalPath,
            String componentName, String options);
    public static native int SetRestoreOptions(long components, byte[] writerId, int componentType,
            String logicalPath, String componentName, String options);
    public static native int SetRestoreState(long components, int restoreType);
    public static native int SetFileRestoreStatus(long components, byte[] writerId, int componentType,
            String logicalPath, String componentName, int status);
    public static native int SetBackupSucceeded(long components, byte[] writerId, byte[] instanceId,
            int componentType, String logicalPath, String componentName, boolean succeeded);
    public static native int SetContext(long components, int context);
    public static native int SetSelectedForRestore(long components, byte[] writerId, int componentType,
            String logicalPath, String componentName, boolean selected);
    public static native int StartSnapshotSet(long components, byte[] snapshotSetId);
    public static native int Release(long components);
}
