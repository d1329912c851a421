package com.ombrel.agentservice.changejournal.ntfs;

/** One journal or file-table record. */
public final class UsnRecord {
    public final String fileName;
    public final long sourceInfo;
    public final long reason;
    public final long attributes;
    public final long usn;
    public final long parentFileReference;
    public final long fileReference;

    public UsnRecord(String fileName, long sourceInfo, long reason, long attributes, long usn,
            long parentFileReference, long fileReference) {
        this.fileName = fileName;
        this.sourceInfo = sourceInfo;
        this.reason = reason;
        this.attributes = attributes;
        this.usn = usn;
        this.parentFileReference = parentFileReference;
        this.fileReference = fileReference;
    }
}
