package com.ombrel.agentservice.changejournal.ntfs;

import java.io.IOException;

/** A journal failure with its Win32 code. */
public class NtfsChangeJournalException extends IOException {
    private static final long serialVersionUID = 1L;
    private final int code;

    public NtfsChangeJournalException(String message, int code) {
        super(message);
        this.code = code;
    }

    public int getCode() {
        return code;
    }
}
