package com.ombrel.util.file.nativefs;

/** Directory listings, change notifications, drive types and moves. */
public final class Win32FileNatives {
    static {
        System.loadLibrary("rasbridge64");
    }

    private Win32FileNatives() {
    }

    public static native int nativeDriveType(String rootPath);
    public static native long nativeFindFirstChangeNotification(String path, boolean watchSubtree, int filter);
    public static native boolean nativeFindNextChangeNotification(long handle);
    public static native boolean nativeFindCloseChangeNotification(long handle);
    public static native int nativeWaitForSingleObject(long handle, int milliseconds);
    public static native long nativeFindFirstFile(String pattern, Object entry);
    public static native Object nativeFindNextFile(long searchHandle, Object entry);
    public static native boolean nativeFindClose(long searchHandle);
    public static native void MoveFileEx0(String from, String to, int flags);
}
