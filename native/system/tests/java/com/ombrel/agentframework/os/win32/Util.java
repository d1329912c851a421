package com.ombrel.agentframework.os.win32;

/** Service stop, catalogue restore, host queries, file identity and the thread background mode. */
public final class Util {
    static {
        System.loadLibrary("rasbridge64");
    }

    private Util() {
    }

    public static native void init();
    public static native void StopServiceN(String serviceName);
    public static native int RegDBRestoreN(String path);
    public static native String GetComputerNameEx(int nameType);
    public static native int GetProductType();
    public static native long getFileId(String path);
    public static native void getFileInformationMinimal(String path, Object info);
    public static native boolean beginThreadBackgroundProcessingMode();
    public static native boolean endThreadBackgroundProcessingMode();
}
