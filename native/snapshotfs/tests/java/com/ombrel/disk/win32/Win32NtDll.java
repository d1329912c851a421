package com.ombrel.disk.win32;

/** NT file queries through entry addresses found with Win32Kernel.GetProcAddress. */
public final class Win32NtDll {
    static {
        System.loadLibrary("omnative-win32-x64");
    }

    private Win32NtDll() {
    }

    public static native int NtQueryInformationFile(long entry, long handle, int informationClass, byte[] buffer);
    public static native int NtQueryDirectoryFile(long entry, long handle, int informationClass, byte[] buffer);
}
