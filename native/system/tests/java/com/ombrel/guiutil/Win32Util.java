package com.ombrel.guiutil;

/** Window lookup, message posting and show commands. */
public final class Win32Util {
    static {
        System.loadLibrary("rasbridge64");
    }

    private Win32Util() {
    }

    public static native long findWindow(String className, String windowName);
    public static native boolean sendMessage(long window, int message, int wParam, long lParam);
    public static native boolean showWindow(long window, int command);
}
