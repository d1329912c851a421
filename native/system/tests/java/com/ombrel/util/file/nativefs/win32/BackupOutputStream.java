package com.ombrel.util.file.nativefs.win32;

/** Backup-semantics output stream of the Java file-system layer. */
public final class BackupOutputStream {
    static {
        System.loadLibrary("rasbridge64");
    }

    private BackupOutputStream() {
    }

    public static native void init();
}
