package com.ombrel.snapshotfs;

import com.halvane.common.win32.VirtualBuffer;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;

/** The shadow-copy stand-in as a test sees it: live counts, call log, and BSTRs read and freed. */
final class VssStandIn {
    static {
        System.loadLibrary("omvss-testhooks");
    }

    private VssStandIn() {
    }

    static native long liveObjects();

    static native long liveBstrs();

    static native String callLog();

    static native void clearLog();

    static native void freeBstr(long text);

    /** A BSTR's text, read through its 4-byte length prefix; null for a null BSTR. */
    static String read(long bstr) {
        if (bstr == 0) {
            return null;
        }
        byte[] prefix = new byte[4];
        if (VirtualBuffer.memcpy_s(prefix, bstr - 4, 4) != 0) {
            throw new AssertionError("BSTR prefix unreadable");
        }
        int length = ByteBuffer.wrap(prefix).order(ByteOrder.LITTLE_ENDIAN).getInt(0);
        byte[] text = new byte[length];
        if (length > 0 && VirtualBuffer.memcpy_s(text, bstr, length) != 0) {
            throw new AssertionError("BSTR text unreadable");
        }
        return new String(text, StandardCharsets.UTF_16LE);
    }

    /** Reads and frees a BSTR, as the agent does with every text it is handed. */
    static String take(long bstr) {
        String text = read(bstr);
        freeBstr(bstr);
        return text;
    }

    /** The methods called on the backup components, in order, without their arguments. */
    static List<String> backupCalls() {
        List<String> calls = new ArrayList<>();
        for (String line : callLog().split("\n")) {
            if (line.startsWith("IVssBackupComponents::")) {
                calls.add(line.substring("IVssBackupComponents::".length(), line.indexOf('(')));
            }
        }
        return calls;
    }
}
