package com.ombrel.agentframework.os.dialup;

/** An active connection: its entry name and handle. */
public final class WinRasEntry {
    public String name;
    public long handle;
}
