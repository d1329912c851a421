package com.ombrel.util.file.nativefs.win32;

/** Backup-semantics input stream of the Java file-system layer. */
public final class BackupInputStream {
    static {
        System.loadLibrary("rasbridge64");
    }

    private BackupInputStream() {
    }

    public static native void init();
}
