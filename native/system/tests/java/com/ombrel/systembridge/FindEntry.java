package com.ombrel.systembridge;

/** The fields the search natives fill. */
public final class FindEntry {
    public String filename;
    public long fileattrib;
    public long filesize;
    public boolean directory;
    public boolean isSymbolicLink;
    public boolean isJunctionPoint;
    public long extraFlags;
}
