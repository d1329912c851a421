package com.ombrel.disk.win32;

/** Win32 file, find, security, backup-stream and encrypted-file natives of omnative-win32-x64. */
public final class Win32Kernel {
    static {
        System.loadLibrary("omnative-win32-x64");
    }

    private Win32Kernel() {
    }

    public static native int LoadLibrary(String name, long[] module);
    public static native int GetProcAddress(long module, String name, long[] address);
    public static native int FindFirstFile0(String path, int infoLevel, int additionalFlags, long[] search, byte[] findData);
    public static native int FindNextFile(long search, byte[] findData);
    public static native int FindClose(long search);
    public static native int GetFileAttributesEx(String path, byte[] attributeData);
    public static native int SetFileAttributes(String path, int attributes);
    public static native int GetFileSecurityLength(String path);
    public static native int GetFileSecurity(String path, byte[] descriptor);
    public static native int CreateFile0(String path, int desiredAccess, int shareMode, int creationDisposition,
            int flagsAndAttributes, long[] handle);
    public static native int WriteFile(long handle, byte[] buffer, int offset, int length, int[] written);
    public static native int GetFileInformationByHandle(long handle, byte[] information);
    public static native int GetFileInformationByHandleEx(long handle, int informationClass, byte[] buffer);
    public static native int SetFileInformationByHandle(long handle, int informationClass, byte[] buffer);
    public static native int CloseHandle(long handle);
    public static native int SetFilePointerEx(long handle, long distance, int moveMethod);

    public static native int BackupRead(long handle, byte[] buffer, int offset, int length, int[] bytesRead,
            boolean processSecurity, long[] context);
    public static native int BackupReadAbort(long handle, boolean processSecurity, long[] context);
    public static native int BackupSeek(long handle, long bytesToSeek, long[] bytesSeeked, long[] context);
    public static native int BackupWrite(long handle, byte[] buffer, int offset, int length, int[] bytesWritten,
            boolean processSecurity, long[] context);
    public static native int BackupWriteAbort(long handle, boolean processSecurity, long[] context);

    public static native int InitializeEncryptedFileSupport(Class<?> callbackClass, String methodName,
            String methodSignature, long[] support);
    public static native void ShutdownEncryptedFileSupport(long support);
    public static native int OpenEncryptedFileRaw(String path, int flags, long support, Object callback, long[] context);
    public static native int ReadEncryptedFileRaw(long context);
    public static native void CloseEncryptedFileRaw(long context);
}
