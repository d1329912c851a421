package com.ombrel.agentframework.os.win32;

/** An opened or created key and whether it was created. */
public final class RegKey {
    public int disposition;
    public long ptr;

    public RegKey(long ptr, int disposition) {
        this.ptr = ptr;
        this.disposition = disposition;
    }
}
