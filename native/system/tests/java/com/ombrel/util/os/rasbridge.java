package com.ombrel.util.os;

/** The console's window title, its single instance and shell opening. */
public final class rasbridge {
    static {
        System.loadLibrary("rasbridge64");
    }

    private rasbridge() {
    }

    public static native void SetTitle(String title);
    public static native int newInstance();
    public static native void ExecShell(String file);
}
