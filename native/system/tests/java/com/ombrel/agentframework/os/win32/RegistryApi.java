package com.ombrel.agentframework.os.win32;

/** Registry keys, values, hives and key security. */
public final class RegistryApi {
    static {
        System.loadLibrary("rasbridge64");
    }

    private RegistryApi() {
    }

    public static native void init();
    public static native void RegLoadKey(long key, String subKey, String file);
    public static native void RegUnLoadKey(long key, String subKey);
    public static native void RegFlushKey(long key);
    public static native long RegOpenKeyEx(long key, String subKey, int options, int samDesired);
    public static native RegKey RegCreateKeyEx(long key, String subKey, int options, int samDesired);
    public static native void RegCloseKey(long key);
    public static native boolean RegEnumValueW(long key, int index, RegValue out);
    public static native String RegEnumKeyExW(long key, int index);
    public static native void RegReplaceKey(long key, String subKey, String newFile, String oldFile);
    public static native void RegSetValueExW(long key, RegValue value);
    public static native void RegDeleteKey(long key, String subKey);
    public static native void RegGetValue(long key, String valueName, RegValue out);
    public static native void RegCopyValue(long sourceKey, String valueName, long targetKey);
    public static native void RegCopyKeySecurity(long sourceKey, long targetKey);
}
