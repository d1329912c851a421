package com.ombrel.agentservice.changejournal.ntfs;

/** A volume's update sequence number change journal. */
public final class NtfsChangeJournal {
    static {
        System.loadLibrary("rasbridge64");
    }

    private NtfsChangeJournal() {
    }

    public static native void init();
    public static native int activateUsnJournal(long volumeHandle);
    public static native UsnJournalData queryUSNJournal(long volumeHandle);
    public static native long enumerateUSN0(long volumeHandle, char driveLetter, long startFileReference, long lowUsn,
            long highUsn, UsnRecordCallback callback);
    public static native boolean readUSNJournalN(long volumeHandle, long startUsn, int reasonMask,
            boolean returnOnlyOnClose, long journalId, UsnRecordCallback callback);
}
