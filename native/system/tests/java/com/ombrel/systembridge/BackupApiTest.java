package com.ombrel.systembridge;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ombrel.agentframework.os.win32.BackupApi;
import com.ombrel.testing.Folders;
import com.ombrel.util.exceptions.ErrorCodeException;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class BackupApiTest {
    static final int GENERIC_READ = 0x80000000;
    static final int GENERIC_WRITE = 0x40000000;
    static final int CREATE_NEW = 1;
    static final int OPEN_EXISTING = 3;
    static final int BACKUP_SEMANTICS = 0x02000000;
    static final int HIDDEN = 0x2;
    static final int DIRECTORY = 0x10;

    Path folder;
    Path source;
    byte[] content;

    @BeforeAll
    static void init() {
        BackupApi.init();
    }

    @BeforeEach
    void file() throws IOException {
        folder = Folders.fresh("backupapi");
        source = folder.resolve("source.dat");
        content = new byte[10_000];
        for (int i = 0; i < content.length; i++) {
            content[i] = (byte) (i * 13 + 1);
        }
        Files.write(source, content);
    }

    static long open(Path path, int access, int disposition) {
        return BackupApi.CreateFile(Folders.windows(path), access, 1, 0, disposition, BACKUP_SEMANTICS, 0);
    }

    /** The whole backup stream of a file, read in chunks at an offset of the buffer. */
    static byte[] backupRead(Path path, int chunk) {
        long handle = open(path, GENERIC_READ, OPEN_EXISTING);
        long[] context = {0};
        byte[] buffer = new byte[chunk + 2];
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        int n;
        while ((n = BackupApi.BackupRead(context, handle, buffer, 2, chunk, false, true)) > 0) {
            assertNotEquals(0L, context[0]);
            out.write(buffer, 2, n);
        }
        assertEquals(0, n);
        assertEquals(0, BackupApi.BackupRead(context, handle, buffer, 0, 0, true, true));
        assertEquals(0L, context[0]);
        // The abort call closed the handle.
        assertThrows(IOException.class, () -> BackupApi.CloseHandle(handle));
        return out.toByteArray();
    }

    /** The content of the BACKUP_DATA stream within a backup stream. */
    static byte[] dataStream(byte[] backup) {
        ByteBuffer b = Folders.little(backup);
        while (b.remaining() > 0) {
            int id = b.getInt();
            b.getInt();
            long size = b.getLong();
            int nameSize = b.getInt();
            b.position(b.position() + nameSize);
            byte[] data = new byte[(int) size];
            b.get(data);
            if (id == 1) {
                return data;
            }
        }
        return null;
    }

    @Test
    void privilegeTheTokenLacksIsReported() throws Exception {
        // The stand-in's token lacks the privileges named in this file.
        Path absent = Path.of(System.getenv("OM_STANDIN_ROOT"), "token", "absent");
        Files.createDirectories(absent.getParent());
        Files.writeString(absent, "SeTcbPrivilege\n");
        try {
            Exception lacking = assertThrows(Exception.class, () -> BackupApi.setPrivilege("SeTcbPrivilege", true));
            assertEquals("Not all privileges or groups referenced are assigned to the caller.", lacking.getMessage());
            BackupApi.setPrivilege("SeTcbPrivilege", false);  // not held: not enabled either, as asked
            BackupApi.setPrivilege("SeBackupPrivilege", true);
        } finally {
            Files.delete(absent);
        }
        BackupApi.setPrivilege("SeTcbPrivilege", true);
        BackupApi.setPrivilege("SeTcbPrivilege", false);
    }

    @Test
    void backupStreamsRoundTrip() throws IOException {
        byte[] backup = backupRead(source, 777);
        assertArrayEquals(content, dataStream(backup));
        Path copy = folder.resolve("copy.dat");
        long handle = open(copy, GENERIC_WRITE | 0x000C0000, CREATE_NEW);
        long[] context = {0};
        byte[] buffer = new byte[300];
        for (int at = 0; at < backup.length; at += 297) {
            int n = Math.min(297, backup.length - at);
            System.arraycopy(backup, at, buffer, 3, n);
            assertEquals(n, BackupApi.BackupWrite(context, handle, buffer, 3, n, false, true));
        }
        assertEquals(0, BackupApi.BackupWrite(context, handle, buffer, 0, 0, true, true));
        assertArrayEquals(content, Files.readAllBytes(copy));
    }

    @Test
    void backupArgumentsAreChecked() {
        long handle = open(source, GENERIC_READ, OPEN_EXISTING);
        byte[] buffer = new byte[16];
        NullPointerException e = assertThrows(NullPointerException.class,
                () -> BackupApi.BackupRead(null, handle, buffer, 0, 16, false, false));
        assertEquals("", e.getMessage());
        assertThrows(NullPointerException.class, () -> BackupApi.BackupRead(new long[1], handle, null, 0, 16, false, false));
        assertThrows(NullPointerException.class, () -> BackupApi.BackupRead(new long[1], 0, buffer, 0, 16, false, false));
        // A range outside the buffer is refused before anything is read.
        assertThrows(IOException.class, () -> BackupApi.BackupRead(new long[1], handle, buffer, 8, 9, false, false));
        assertThrows(IOException.class, () -> BackupApi.BackupRead(new long[1], handle, buffer, -1, 4, false, false));
        assertEquals(1, BackupApi.CloseHandle(handle));
        NullPointerException zero = assertThrows(NullPointerException.class, () -> BackupApi.CloseHandle(0));
        assertEquals("", zero.getMessage());
    }

    @Test
    void abortFreesTheContextWhateverTheBuffer() throws IOException {
        long handle = open(source, GENERIC_READ, OPEN_EXISTING);
        long[] context = {0};
        assertEquals(100, BackupApi.BackupRead(context, handle, new byte[100], 0, 100, false, true));
        assertNotEquals(0L, context[0]);
        assertEquals(0, BackupApi.BackupRead(context, handle, null, 0, 0, true, true));
        assertEquals(0L, context[0]);

        Path copy = folder.resolve("copy.dat");
        long target = open(copy, GENERIC_WRITE, CREATE_NEW);
        byte[] header = new byte[20];
        assertEquals(20, BackupApi.BackupWrite(context, target, header, 0, 20, false, false));
        assertNotEquals(0L, context[0]);
        assertEquals(0, BackupApi.BackupWrite(context, target, null, 5, 99, true, false));
        assertEquals(0L, context[0]);
    }

    @Test
    void pathHoldingZeroIsRefused() throws Exception {
        String named = Folders.windows(source) + "\0.new";
        IOException created = assertThrows(IOException.class,
                () -> BackupApi.CreateFile(named, GENERIC_WRITE, 0, 0, 2 /* CREATE_ALWAYS */, 0, 0));
        assertEquals("The filename, directory name, or volume label syntax is incorrect.", created.getMessage());
        assertArrayEquals(content, Files.readAllBytes(source));
        assertThrows(IOException.class, () -> BackupApi.SetFileAttributes(named, HIDDEN));
        assertEquals(0, BackupApi.GetFileAttributes(Folders.windows(source)) & HIDDEN);
        ErrorCodeException read = assertThrows(ErrorCodeException.class,
                () -> BackupApi.readSecurityDescriptor(named, new byte[512], 512));
        assertEquals(123, read.getErrorCode());
        assertEquals(-1, BackupApi.getFreeDiskSpace(Folders.windows(folder) + "\0"));
        assertThrows(Exception.class, () -> BackupApi.setPrivilege("SeBackupPrivilege\0x", true));
    }

    @Test
    void createFileFailureThrowsTheSystemText() {
        IOException e = assertThrows(IOException.class,
                () -> open(folder.resolve("missing.dat"), GENERIC_READ, OPEN_EXISTING));
        assertEquals("The system cannot find the file specified.", e.getMessage());
        NullPointerException npe = assertThrows(NullPointerException.class,
                () -> BackupApi.CreateFile(null, GENERIC_READ, 0, 0, OPEN_EXISTING, 0, 0));
        assertEquals("", npe.getMessage());
    }

    @Test
    void longPathsGetThePrefix() throws IOException {
        Path deep = folder;
        while (Folders.windows(deep).length() < 300) {
            deep = deep.resolve("d".repeat(60));
        }
        Files.createDirectories(deep);
        Path file = deep.resolve("long.dat");
        Files.write(file, content);
        assertTrue(Folders.windows(file).length() >= 260);
        long handle = open(file, GENERIC_READ, OPEN_EXISTING);
        assertEquals(1, BackupApi.CloseHandle(handle));
        assertEquals(0, BackupApi.GetFileAttributes(Folders.windows(file)) & DIRECTORY);
    }

    @Test
    void securityDescriptorBufferRules() throws Exception {
        String path = Folders.windows(source);
        IOException small = assertThrows(IOException.class, () -> BackupApi.readSecurityDescriptor(path, new byte[3], 3));
        assertEquals("buffer length < 4", small.getMessage());
        ErrorCodeException tooSmall = assertThrows(ErrorCodeException.class,
                () -> BackupApi.readSecurityDescriptor(path, new byte[4], 4));
        assertEquals(122, tooSmall.getErrorCode());
        assertEquals("The data area passed to a system call is too small.", tooSmall.getMessage());
        NullPointerException npe = assertThrows(NullPointerException.class,
                () -> BackupApi.readSecurityDescriptor(path, null, 100));
        assertEquals("", npe.getMessage());
        // A length beyond the array is taken as the array's length.
        ErrorCodeException claimed = assertThrows(ErrorCodeException.class,
                () -> BackupApi.readSecurityDescriptor(path, new byte[8], 4096));
        assertEquals(122, claimed.getErrorCode());
        ErrorCodeException missing = assertThrows(ErrorCodeException.class,
                () -> BackupApi.readSecurityDescriptor(Folders.windows(folder.resolve("none")), new byte[512], 512));
        assertEquals(2, missing.getErrorCode());

        IOException offset = assertThrows(IOException.class,
                () -> BackupApi.writeSecurityDescriptor(path, new byte[20], 10, 13));
        assertEquals("buffer length < offset", offset.getMessage());
        assertThrows(NullPointerException.class, () -> BackupApi.writeSecurityDescriptor(path, null, 0, 4));
        assertThrows(IOException.class, () -> BackupApi.writeSecurityDescriptor(path, new byte[8], 0, 64));
        assertThrows(IOException.class, () -> BackupApi.writeSecurityDescriptor(path, new byte[8], -4, 4));
    }

    @Test
    void securityDescriptorsTravelWithTheirAttributes() throws Exception {
        byte[] buffer = new byte[1024];
        long used = BackupApi.readSecurityDescriptor(Folders.windows(source), buffer, buffer.length);
        assertTrue(used > 24 && used <= buffer.length);
        ByteBuffer b = Folders.little(buffer);
        int attributes = b.getInt(0);
        assertEquals(BackupApi.GetFileAttributes(Folders.windows(source)), attributes);
        assertEquals(1, buffer[4]);  // revision
        assertTrue((b.getShort(6) & 0x8000) != 0);  // self-relative
        assertNotEquals(0, b.getInt(8));  // owner
        assertNotEquals(0, b.getInt(20));  // DACL

        // Restoring needs the security privilege (ACCESS_SYSTEM_SECURITY).
        Path target = folder.resolve("target.dat");
        Files.write(target, new byte[] {1});
        byte[] stored = new byte[(int) used + 6];
        System.arraycopy(buffer, 0, stored, 6, (int) used);
        Folders.little(stored).putInt(6, attributes | HIDDEN);
        BackupApi.setPrivilege("SeSecurityPrivilege", false);
        IOException denied = assertThrows(IOException.class,
                () -> BackupApi.writeSecurityDescriptor(Folders.windows(target), stored, 6, stored.length));
        assertEquals("A required privilege is not held by the client.", denied.getMessage());
        BackupApi.setPrivilege("SeSecurityPrivilege", true);
        try {
            BackupApi.writeSecurityDescriptor(Folders.windows(target), stored, 6, stored.length);
            byte[] again = new byte[1024];
            long usedAgain = BackupApi.readSecurityDescriptor(Folders.windows(target), again, again.length);
            assertEquals(used, usedAgain);
            assertArrayEquals(Arrays.copyOfRange(buffer, 4, (int) used), Arrays.copyOfRange(again, 4, (int) used));
            assertEquals(HIDDEN, Folders.little(again).getInt(0) & HIDDEN);
            // An empty descriptor stream is written; the system refuses it as no descriptor,
            // and the attributes stay as they were.
            byte[] empty = new byte[14];
            Folders.little(empty).putInt(10, attributes);
            IOException refused = assertThrows(IOException.class,
                    () -> BackupApi.writeSecurityDescriptor(Folders.windows(target), empty, 10, 14));
            assertEquals("The security descriptor structure is invalid.", refused.getMessage());
            assertEquals(HIDDEN, BackupApi.GetFileAttributes(Folders.windows(target)) & HIDDEN);
        } finally {
            BackupApi.setPrivilege("SeSecurityPrivilege", false);
        }
    }

    @Test
    void privilegesByName() {
        Exception e = assertThrows(Exception.class, () -> BackupApi.setPrivilege("SeNoSuchPrivilege", true));
        assertEquals("A specified privilege does not exist.", e.getMessage());
        assertThrows(NullPointerException.class, () -> BackupApi.setPrivilege(null, true));
        BackupApi.setPrivilege("SeBackupPrivilege", true);
        BackupApi.setPrivilege("SeBackupPrivilege", false);
    }

    @Test
    void diskSpaceAndAttributes() throws IOException {
        assertTrue(BackupApi.getTotalDiskSpace(Folders.windows(folder)) > 0);
        long free = BackupApi.getFreeDiskSpace(Folders.windows(folder));
        assertTrue(free >= 0 && free <= BackupApi.getTotalDiskSpace(Folders.windows(folder)));
        assertEquals(-1, BackupApi.getFreeDiskSpace("Q:\\"));
        assertEquals(-1, BackupApi.getTotalDiskSpace("Q:\\"));

        int own = BackupApi.GetFileAttributes(Folders.windows(folder) + "\\");
        assertEquals(DIRECTORY, own & DIRECTORY);
        // A root keeps its backslash ("C:" alone is the current folder of the drive).
        assertEquals(DIRECTORY, BackupApi.GetFileAttributes("C:\\") & DIRECTORY);
        assertEquals(DIRECTORY, BackupApi.GetFileAttributes("\\\\?\\C:\\") & DIRECTORY);
        IOException missing = assertThrows(IOException.class,
                () -> BackupApi.GetFileAttributes(Folders.windows(folder.resolve("none"))));
        assertEquals("The system cannot find the file specified.", missing.getMessage());
        String path = Folders.windows(source);
        BackupApi.SetFileAttributes(path, HIDDEN);
        assertEquals(HIDDEN, BackupApi.GetFileAttributes(path) & HIDDEN);
        BackupApi.SetFileAttributes(path, 0x80);
        assertEquals(0, BackupApi.GetFileAttributes(path) & HIDDEN);
        assertThrows(IOException.class, () -> BackupApi.SetFileAttributes(Folders.windows(folder.resolve("none")), 0));
    }

    /** Collects exported blocks; stops after `stopAfter` blocks with code 1234. */
    public static final class Collector {
        final ByteArrayOutputStream out = new ByteArrayOutputStream();
        int calls;
        int stopAfter = Integer.MAX_VALUE;

        public int nextBlock(byte[] buffer, int length) {
            out.write(buffer, 0, length);
            return ++calls >= stopAfter ? 1234 : 0;
        }
    }

    /** Feeds `data` in pieces of at most `piece` bytes, asking to be called again now and then. */
    public static final class Feeder {
        final byte[] data;
        final int piece;
        int at;
        int calls;
        int overrun;

        Feeder(byte[] data, int piece) {
            this.data = data;
            this.piece = piece;
        }

        public int nextBlock(byte[] buffer, int capacity) {
            if (++calls % 3 == 0) {
                return 0;
            }
            if (overrun > 0) {
                return overrun;
            }
            if (at == data.length) {
                return -1;
            }
            int n = Math.min(Math.min(piece, capacity), Math.min(buffer.length, data.length - at));
            System.arraycopy(data, at, buffer, 0, n);
            at += n;
            return n;
        }
    }

    @Test
    void encryptedFilesRawExportAndImport() throws IOException {
        long context = BackupApi.OpenEncryptedFileRaw(Folders.windows(source), 0);
        assertNotEquals(0L, context);
        Collector collector = new Collector();
        assertEquals(0, BackupApi.ReadEncryptedFileRaw(collector, context, new byte[300]));
        BackupApi.CloseEncryptedFileRaw(context);
        byte[] raw = collector.out.toByteArray();
        assertArrayEquals(content, raw);
        assertEquals(10 * 4, collector.calls);  // blocks of 1000 bytes in 300-byte chunks

        context = BackupApi.OpenEncryptedFileRaw(Folders.windows(source), 0);
        Collector stopping = new Collector();
        stopping.stopAfter = 2;
        assertEquals(1234, BackupApi.ReadEncryptedFileRaw(stopping, context, new byte[300]));
        BackupApi.CloseEncryptedFileRaw(context);
        assertEquals(600, stopping.out.size());

        Path restored = folder.resolve("restored.dat");
        context = BackupApi.OpenEncryptedFileRaw(Folders.windows(restored), 1);
        assertEquals(0, BackupApi.WriteEncryptedFileRaw(new Feeder(raw, 333), context, new byte[256]));
        BackupApi.CloseEncryptedFileRaw(context);
        assertArrayEquals(content, Files.readAllBytes(restored));

        Path empty = folder.resolve("empty.dat");
        context = BackupApi.OpenEncryptedFileRaw(Folders.windows(empty), 1);
        assertEquals(0, BackupApi.WriteEncryptedFileRaw(new Feeder(new byte[0], 1), context, new byte[16]));
        BackupApi.CloseEncryptedFileRaw(context);
        assertEquals(0, Files.size(empty));

        // A callback claiming more than its buffer holds ends the import with ERROR_INVALID_DATA.
        context = BackupApi.OpenEncryptedFileRaw(Folders.windows(folder.resolve("bad.dat")), 1);
        Feeder liar = new Feeder(raw, 10);
        liar.overrun = 17;
        assertEquals(13, BackupApi.WriteEncryptedFileRaw(liar, context, new byte[16]));
        BackupApi.CloseEncryptedFileRaw(context);
    }

    @Test
    void encryptedFileFailures() throws IOException {
        IOException missing = assertThrows(IOException.class,
                () -> BackupApi.OpenEncryptedFileRaw(Folders.windows(folder.resolve("none")), 0));
        assertEquals("The system cannot find the file specified.", missing.getMessage());
        long context = BackupApi.OpenEncryptedFileRaw(Folders.windows(source), 0);
        try {
            assertThrows(NoSuchMethodError.class, () -> BackupApi.ReadEncryptedFileRaw(new Object(), context, new byte[8]));
            assertThrows(NullPointerException.class, () -> BackupApi.ReadEncryptedFileRaw(null, context, new byte[8]));
            assertThrows(NullPointerException.class, () -> BackupApi.ReadEncryptedFileRaw(new Collector(), context, null));
            assertThrows(IOException.class, () -> BackupApi.ReadEncryptedFileRaw(new Collector(), context, new byte[0]));
            // An exception of the callback reaches the caller.
            Object thrower = new Object() {
                @SuppressWarnings("unused")
                public int nextBlock(byte[] buffer, int length) {
                    throw new IllegalStateException("stop here");
                }
            };
            IllegalStateException e = assertThrows(IllegalStateException.class,
                    () -> BackupApi.ReadEncryptedFileRaw(thrower, context, new byte[8]));
            assertEquals("stop here", e.getMessage());
        } finally {
            BackupApi.CloseEncryptedFileRaw(context);
        }
    }

    @Test
    void sharedInitsFillTheCache() {
        com.ombrel.agentframework.os.win32.Util.init();
        com.ombrel.agentframework.os.win32.VolumeUtil.init();
        com.ombrel.util.file.nativefs.win32.BackupInputStream.init();
        com.ombrel.util.file.nativefs.win32.BackupOutputStream.init();
    }
}
