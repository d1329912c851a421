package com.ombrel.agentservice.changejournal.ntfs;

/** A journal's identity and extent. */
public final class UsnJournalData {
    public final long journalId;
    public final long firstUsn;
    public final long nextUsn;
    public final long lowestValidUsn;
    public final long maxUsn;
    public final long maximumSize;
    public final long allocationDelta;

    public UsnJournalData(long journalId, long firstUsn, long nextUsn, long lowestValidUsn, long maxUsn,
            long maximumSize, long allocationDelta) {
        this.journalId = journalId;
        this.firstUsn = firstUsn;
        this.nextUsn = nextUsn;
        this.lowestValidUsn = lowestValidUsn;
        this.maxUsn = maxUsn;
        this.maximumSize = maximumSize;
        this.allocationDelta = allocationDelta;
    }
}
