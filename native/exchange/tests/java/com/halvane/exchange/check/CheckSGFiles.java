package com.halvane.exchange.check;

/** Checks of Exchange storage-group files: database headers, database pages, transaction logs. */
public final class CheckSGFiles {
    static {
        System.loadLibrary("omexchange-win32-x64");
    }

    private CheckSGFiles() {
    }

    public static native long New();

    public static native void Delete(long checker);

    public static native int CMaxDbPerSG();

    public static native int ErrInit(long checker, String databasePath, String secondPath, String thirdPath,
            int flags);

    public static native int ErrCheckDbHeaders(long checker, int[] out1, int[] out2, int[] out3, int value);

    public static native int ErrCheckDbPages(long checker, long first, int second, int blockInput, boolean[] flag0,
            boolean[] flag1, long[] out0, long[] out1, long[] out2, long[] out3, long[] out4, int last);

    public static native int ErrCheckLogs(long checker, boolean[] out, int value);

    public static native int ErrTerm(long checker, int value);

    public static native long PgnoFromFileOffset(long checker, long offset);
}
