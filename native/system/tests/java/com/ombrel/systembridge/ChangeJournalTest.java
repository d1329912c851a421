package com.ombrel.systembridge;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ombrel.agentframework.os.win32.BackupApi;
import com.ombrel.agentservice.changejournal.ntfs.NtfsChangeJournal;
import com.ombrel.agentservice.changejournal.ntfs.NtfsChangeJournalException;
import com.ombrel.agentservice.changejournal.ntfs.UsnJournalData;
import com.ombrel.agentservice.changejournal.ntfs.UsnRecord;
import com.ombrel.testing.Folders;
import com.ombrel.util.file.nativefs.Win32FileNatives;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

class ChangeJournalTest {
    static final int GENERIC_READ = 0x80000000;
    static final int GENERIC_WRITE = 0x40000000;
    static final int CREATE_NEW = 1;
    static final int OPEN_EXISTING = 3;
    static final int BACKUP_SEMANTICS = 0x02000000;
    static final long FILE_CREATE = 0x100;
    static final long RENAME_OLD_NAME = 0x1000;
    static final long RENAME_NEW_NAME = 0x2000;
    static final long CLOSE = 0x80000000L;

    private final List<Long> handles = new ArrayList<>();

    @BeforeAll
    static void init() {
        BackupApi.init();
        NtfsChangeJournal.init();
    }

    @AfterEach
    void closeHandles() {
        for (long handle : handles) BackupApi.CloseHandle(handle);
    }

    /** A fresh stand-in drive: its host folder and an open handle on its root. */
    private Path drive(char letter) throws IOException {
        Path root = Path.of(System.getenv("OM_STANDIN_ROOT"), "drives", String.valueOf(letter));
        Files.createDirectories(root);
        return root;
    }

    private long volume(char letter) {
        long handle = BackupApi.CreateFile(letter + ":\\", GENERIC_READ, 3, 0, OPEN_EXISTING, BACKUP_SEMANTICS, 0);
        handles.add(handle);
        return handle;
    }

    private void create(char letter, String name) {
        long file = BackupApi.CreateFile(letter + ":\\" + name, GENERIC_WRITE, 0, 0, CREATE_NEW, 0, 0);
        BackupApi.CloseHandle(file);
    }

    static long inode(Path path) throws IOException {
        return ((Number) Files.getAttribute(path, "unix:ino")).longValue();
    }

    /** The stand-in's journal file read on its own: the records from the first USN on. */
    static List<long[]> journalFile(char letter, List<String> names) throws IOException {
        byte[] bytes = Files.readAllBytes(Path.of(System.getenv("OM_STANDIN_ROOT"), "journals",
                String.valueOf(letter)));
        ByteBuffer in = Folders.little(bytes);
        List<long[]> out = new ArrayList<>();
        for (int at = 56; at < bytes.length; at += in.getInt(at)) {
            assertEquals(2, in.getShort(at + 4));
            int nameLength = in.getShort(at + 56) & 0xffff;
            int nameOffset = in.getShort(at + 58) & 0xffff;
            names.add(new String(bytes, at + nameOffset, nameLength, StandardCharsets.UTF_16LE));
            out.add(new long[] {in.getInt(at + 44) & 0xffffffffL, in.getInt(at + 40) & 0xffffffffL,
                    in.getInt(at + 52) & 0xffffffffL, in.getLong(at + 24), in.getLong(at + 16), in.getLong(at + 8)});
        }
        return out;
    }

    static long[] fields(UsnRecord r) {
        return new long[] {r.sourceInfo, r.reason, r.attributes, r.usn, r.parentFileReference, r.fileReference};
    }

    @Test
    void inactiveJournalAndActivation() throws IOException {
        drive('j');
        long volume = volume('j');
        NtfsChangeJournalException inactive =
                assertThrows(NtfsChangeJournalException.class, () -> NtfsChangeJournal.queryUSNJournal(volume));
        assertEquals(1179, inactive.getCode());
        assertEquals("The volume change journal is not active.", inactive.getMessage());

        assertNotEquals(0, NtfsChangeJournal.activateUsnJournal(volume));
        UsnJournalData data = NtfsChangeJournal.queryUSNJournal(volume);
        assertNotEquals(0, data.journalId);
        assertEquals(0, data.firstUsn);
        assertEquals(0, data.nextUsn);
        assertTrue(data.maximumSize > 0 && data.allocationDelta > 0);
        assertTrue(data.maxUsn > 0);
        // Activating again keeps the journal.
        NtfsChangeJournal.activateUsnJournal(volume);
        assertEquals(data.journalId, NtfsChangeJournal.queryUSNJournal(volume).journalId);

        // Nothing after the next USN: true without a call.
        int[] calls = {0};
        assertTrue(NtfsChangeJournal.readUSNJournalN(volume, data.nextUsn, -1, false, data.journalId, r -> {
            calls[0]++;
            return true;
        }));
        assertEquals(0, calls[0]);

        // A handle that is not a volume's, and a file handle, are refused.
        IOException notVolume = assertThrows(IOException.class, () -> NtfsChangeJournal.queryUSNJournal(12345));
        assertEquals("The handle is invalid.", notVolume.getMessage());
        assertThrows(NullPointerException.class,
                () -> NtfsChangeJournal.readUSNJournalN(volume, 0, -1, false, data.journalId, null));
    }

    @Test
    void readsRecordsOfFileCallsInBatches() throws IOException {
        Path root = drive('k');
        long volume = volume('k');
        NtfsChangeJournal.activateUsnJournal(volume);
        long id = NtfsChangeJournal.queryUSNJournal(volume).journalId;
        String longName = "x".repeat(120);
        for (int i = 0; i < 60; i++) create('k', longName + i);
        Win32FileNatives.MoveFileEx0("K:\\" + longName + "0", "K:\\renamed.txt", 0);

        List<UsnRecord> seen = new ArrayList<>();
        List<Integer> batches = new ArrayList<>();
        assertTrue(NtfsChangeJournal.readUSNJournalN(volume, 0, -1, false, id, records -> {
            batches.add(records.length);
            for (UsnRecord r : records) seen.add(r);
            return true;
        }));
        List<String> names = new ArrayList<>();
        List<long[]> expected = journalFile('k', names);
        assertEquals(62, expected.size());
        assertEquals(expected.size(), seen.size());
        for (int i = 0; i < seen.size(); i++) {
            assertEquals(names.get(i), seen.get(i).fileName);
            assertArrayEquals(expected.get(i), fields(seen.get(i)), "record " + i);
        }
        // One batch per 4096-byte buffer: each record here takes 304 bytes, 13 to a buffer.
        assertEquals(List.of(13, 13, 13, 13, 10), batches);
        long rootInode = inode(root);
        assertEquals(longName + "0", seen.get(0).fileName);
        assertEquals(FILE_CREATE | CLOSE, seen.get(0).reason);
        assertEquals(rootInode, seen.get(0).parentFileReference);
        assertEquals(inode(root.resolve("renamed.txt")), seen.get(0).fileReference);
        assertEquals(RENAME_OLD_NAME, seen.get(60).reason);
        assertEquals("renamed.txt", seen.get(61).fileName);
        assertEquals(RENAME_NEW_NAME | CLOSE, seen.get(61).reason);
        assertEquals(BackupApi.GetFileAttributes("K:\\renamed.txt"), seen.get(61).attributes);
        for (int i = 1; i < seen.size(); i++) assertTrue(seen.get(i).usn > seen.get(i - 1).usn);

        // Only the records with a close, and only the renames.
        List<UsnRecord> closed = new ArrayList<>();
        NtfsChangeJournal.readUSNJournalN(volume, 0, -1, true, id, records -> closed.addAll(List.of(records)));
        assertEquals(61, closed.size());
        List<UsnRecord> renames = new ArrayList<>();
        NtfsChangeJournal.readUSNJournalN(volume, 0, (int) (RENAME_OLD_NAME | RENAME_NEW_NAME), false, id,
                records -> renames.addAll(List.of(records)));
        assertEquals(2, renames.size());
        assertEquals(seen.get(60).usn, renames.get(0).usn);

        // From a USN on; a callback that says stop ends with false after one batch.
        List<UsnRecord> tail = new ArrayList<>();
        NtfsChangeJournal.readUSNJournalN(volume, seen.get(59).usn, -1, false, id, records -> tail.addAll(List.of(records)));
        assertEquals(3, tail.size());
        int[] calls = {0};
        assertFalse(NtfsChangeJournal.readUSNJournalN(volume, 0, -1, false, id, records -> {
            calls[0]++;
            return false;
        }));
        assertEquals(1, calls[0]);

        // A callback's exception reaches the caller; reading ends with it.
        IllegalStateException thrown = assertThrows(IllegalStateException.class,
                () -> NtfsChangeJournal.readUSNJournalN(volume, 0, -1, false, id, records -> {
                    throw new IllegalStateException("stop here");
                }));
        assertEquals("stop here", thrown.getMessage());
        assertThrows(IllegalStateException.class,
                () -> NtfsChangeJournal.enumerateUSN0(volume, 'K', 0, 0, Long.MAX_VALUE, records -> {
                    throw new IllegalStateException("stop here");
                }));

        // Another journal's identifier is refused.
        IOException wrongJournal = assertThrows(IOException.class,
                () -> NtfsChangeJournal.readUSNJournalN(volume, 0, -1, false, id + 1, records -> true));
        assertEquals("The parameter is incorrect.", wrongJournal.getMessage());
    }

    @Test
    void enumeratesTheFileTable() throws IOException {
        Path root = drive('m');
        Files.createDirectories(root.resolve("sub/deeper"));
        Map<Long, String> expected = new HashMap<>();
        Map<Long, Long> parents = new HashMap<>();
        for (String name : new String[] {"a.txt", "sub/b.txt", "sub/deeper/c.txt", "sub/deeper/\u00e9t\u00e9.txt"}) {
            Files.writeString(root.resolve(name), name);
        }
        try (var walk = Files.walk(root)) {
            for (Path p : (Iterable<Path>) walk::iterator) {
                if (p.equals(root)) continue;
                expected.put(inode(p), p.getFileName().toString());
                parents.put(inode(p), inode(p.getParent()));
            }
        }
        long volume = volume('m');
        Map<Long, UsnRecord> seen = new HashMap<>();
        int[] calls = {0};
        long rootReference = NtfsChangeJournal.enumerateUSN0(volume, 'M', 0, 0, Long.MAX_VALUE, records -> {
            calls[0]++;
            for (UsnRecord r : records) assertEquals(null, seen.put(r.fileReference, r));
            return true;
        });
        assertEquals(inode(root), rootReference);
        assertEquals(1, calls[0]);
        assertEquals(expected.keySet(), seen.keySet());
        for (UsnRecord r : seen.values()) {
            assertEquals(expected.get(r.fileReference), r.fileName);
            assertEquals(parents.get(r.fileReference), r.parentFileReference);
            assertEquals(0, r.usn);
        }
        assertEquals(0x10, seen.get(inode(root.resolve("sub"))).attributes & 0x10);

        // Past the last file: end of file at once, no call.
        long last = expected.keySet().stream().mapToLong(Long::longValue).max().getAsLong();
        calls[0] = 0;
        assertEquals(rootReference, NtfsChangeJournal.enumerateUSN0(volume, 'M', last + 1, 0, Long.MAX_VALUE, r -> {
            calls[0]++;
            return true;
        }));
        assertEquals(0, calls[0]);
        // A USN range no file has.
        assertEquals(rootReference, NtfsChangeJournal.enumerateUSN0(volume, 'M', 0, 5, 10, r -> {
            calls[0]++;
            return true;
        }));
        assertEquals(0, calls[0]);
        // A drive without a root folder.
        IOException missing = assertThrows(IOException.class,
                () -> NtfsChangeJournal.enumerateUSN0(volume, 'Q', 0, 0, Long.MAX_VALUE, r -> true));
        assertTrue(missing.getMessage().startsWith("The system cannot find the"), missing.getMessage());
    }

    @Test
    void enumerationInManyBatchesStopsWhenAsked() throws IOException {
        Path root = drive('n');
        for (int i = 0; i < 100; i++) Files.writeString(root.resolve("file-with-a-longer-name-" + i), "x");
        long volume = volume('n');
        List<Long> references = new ArrayList<>();
        List<Integer> batches = new ArrayList<>();
        NtfsChangeJournal.enumerateUSN0(volume, 'N', 0, 0, Long.MAX_VALUE, records -> {
            batches.add(records.length);
            for (UsnRecord r : records) references.add(r.fileReference);
            return true;
        });
        assertEquals(100, references.size());
        assertTrue(batches.size() > 1, batches.toString());
        List<Long> sorted = new ArrayList<>(references);
        sorted.sort(null);
        assertEquals(sorted, references);  // in file reference order across batches
        int[] calls = {0};
        assertEquals(inode(root), NtfsChangeJournal.enumerateUSN0(volume, 'N', 0, 0, Long.MAX_VALUE, records -> {
            calls[0]++;
            return false;
        }));
        assertEquals(1, calls[0]);
    }

    @Test
    void damagedRecordsAreReportedNotTakenForTheEnd() throws IOException {
        drive('d');
        long volume = volume('d');
        NtfsChangeJournal.activateUsnJournal(volume);
        long id = NtfsChangeJournal.queryUSNJournal(volume).journalId;
        create('d', "one.txt");
        create('d', "two.txt");
        // The stand-in writes this length over the first record of every buffer it returns.
        Path damage = Path.of(System.getenv("OM_STANDIN_ROOT"), "journals", "d.damaged");
        for (String length : List.of("0", "65536")) {
            Files.writeString(damage, length);
            NtfsChangeJournalException read = assertThrows(NtfsChangeJournalException.class,
                    () -> NtfsChangeJournal.readUSNJournalN(volume, 0, -1, false, id, records -> true));
            assertEquals(13, read.getCode());  // ERROR_INVALID_DATA
            assertEquals("change journal record of length " + length + " at byte 8 does not fit its buffer",
                    read.getMessage());
            NtfsChangeJournalException enumerated = assertThrows(NtfsChangeJournalException.class,
                    () -> NtfsChangeJournal.enumerateUSN0(volume, 'D', 0, 0, Long.MAX_VALUE, records -> true));
            assertEquals(read.getMessage(), enumerated.getMessage());
        }
        Files.delete(damage);
        assertTrue(NtfsChangeJournal.readUSNJournalN(volume, 0, -1, false, id, records -> true));
    }
}
