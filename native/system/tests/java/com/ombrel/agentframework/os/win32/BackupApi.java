package com.ombrel.agentframework.os.win32;

/** Backup-semantics streams, file security, privileges, disk space and raw encrypted files. */
public final class BackupApi {
    static {
        System.loadLibrary("rasbridge64");
    }

    private BackupApi() {
    }

    public static native void init();
    public static native void setPrivilege(String name, boolean enable);
    public static native long readSecurityDescriptor(String path, byte[] buffer, int length);
    public static native void writeSecurityDescriptor(String path, byte[] buffer, int offset, int length);
    public static native int BackupRead(long[] context, long handle, byte[] buffer, int offset, int length,
            boolean abort, boolean processSecurity);
    public static native int BackupWrite(long[] context, long handle, byte[] buffer, int offset, int length,
            boolean abort, boolean processSecurity);
    public static native long CreateFile(String path, int access, int share, long securityAttributes, int disposition,
            int flagsAndAttributes, long template);
    public static native int CloseHandle(long handle);
    public static native long getFreeDiskSpace(String path);
    public static native long getTotalDiskSpace(String path);
    public static native int GetFileAttributes(String path);
    public static native void SetFileAttributes(String path, int attributes);
    public static native long OpenEncryptedFileRaw(String path, int flags);
    public static native int ReadEncryptedFileRaw(Object callback, long context, byte[] buffer);
    public static native int WriteEncryptedFileRaw(Object callback, long context, byte[] buffer);
    public static native void CloseEncryptedFileRaw(long context);
}
