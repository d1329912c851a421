package com.ombrel.guiutil;

/** The console's hidden indicator window. */
public class DesktopIndicator {
    static {
        System.loadLibrary("rasbridge64");
    }

    private long handler;
    private int clicks;

    public native void nativeEnable(int image, String tooltip);
    public native void nativeDisable();
    public static native int nativeLoadImage(String exePath);
    public static native void nativeFreeImage(int icon);
    public static native void nativeRestoreWindow();

    public synchronized void fireClicked() {
        clicks++;
    }

    public synchronized int clicks() {
        return clicks;
    }

    public long handler() {
        return handler;
    }
}
