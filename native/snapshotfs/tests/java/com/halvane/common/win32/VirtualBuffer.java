package com.halvane.common.win32;

/** Page-aligned native memory and bounded copies to and from Java arrays. */
public final class VirtualBuffer {
    static {
        System.loadLibrary("omnative-win32-x64");
    }

    private VirtualBuffer() {
    }

    public static native int memcpy_s(long address, int size, byte[] source);
    public static native int memcpy_s(byte[] destination, long address, int length);
    public static native int VirtualAlloc(long[] address, int size, int allocationType, int protection);
    public static native int VirtualFree(long address, int size, int freeType);
}
