package com.ombrel.system;

/** The system's proxy settings. */
public final class Internet {
    static {
        System.loadLibrary("rasbridge64");
    }

    private Internet() {
    }

    public static native String queryProxyServers();
    public static native String queryProxyBypass();
    public static native String queryStringValue(int option);
}
