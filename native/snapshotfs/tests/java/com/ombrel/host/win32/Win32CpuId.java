package com.ombrel.host.win32;

/** The CPUID instruction. */
public final class Win32CpuId {
    static {
        System.loadLibrary("omnative-win32-x64");
    }

    private Win32CpuId() {
    }

    public static native int cpuid(int[] registers, int leaf);
}
