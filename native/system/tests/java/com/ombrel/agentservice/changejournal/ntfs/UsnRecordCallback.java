package com.ombrel.agentservice.changejournal.ntfs;

/** Receives records one buffer at a time; false stops the reading. */
public interface UsnRecordCallback {
    boolean record(UsnRecord[] records);
}
