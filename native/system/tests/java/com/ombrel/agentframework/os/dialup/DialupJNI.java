package com.ombrel.agentframework.os.dialup;

/** Phone-book entries, connections, dialling and hang-up. */
public final class DialupJNI {
    static {
        System.loadLibrary("rasbridge64");
    }

    private DialupJNI() {
    }

    public static native void init();
    public static native String[] RasEnumEntries();
    public static native WinRasEntry[] RasEnumConnections();
    public static native long RasDial(String entryName, String user, String password);
    public static native int RasGetConnectStatus(long connection);
    public static native int RasHangUp(long connection);
}
