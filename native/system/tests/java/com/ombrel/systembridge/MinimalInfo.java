package com.ombrel.systembridge;

/** The fields getFileInformationMinimal fills. */
public final class MinimalInfo {
    public int dwFileAttributes;
    public long fileIndex;
    public long fileSize;
    public long ftLastWriteTime;
}
