package com.ombrel.snapshotfs;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import com.ombrel.disk.win32.Win32Kernel;
import com.ombrel.testing.Folders;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.RandomAccessFile;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class BackupStreamsTest {
    static final int GENERIC_READ = 0x80000000;
    static final int GENERIC_WRITE = 0x40000000;
    static final int WRITE_DAC_OWNER = 0x000C0000;
    static final int CREATE_NEW = 1;
    static final int OPEN_EXISTING = 3;
    static final int BACKUP_SEMANTICS = 0x02000000;

    Path folder;
    Path source;
    byte[] content;

    /** One WIN32_STREAM_ID record as parsed from the backup stream. */
    record Stream(int id, int attributes, String name, byte[] data) {
    }

    @BeforeEach
    void file() throws IOException {
        folder = Folders.fresh("backup");
        source = folder.resolve("source.dat");
        content = new byte[70_000];
        for (int i = 0; i < content.length; i++) {
            content[i] = (byte) (i * 31 + 7);
        }
        Files.write(source, content);
        Folders.setStream(source, "notes", "alternate stream text".getBytes(StandardCharsets.UTF_8));
    }

    static long open(Path path, int access, int disposition) {
        long[] handle = {0};
        assertEquals(0, Win32Kernel.CreateFile0(Folders.windows(path), access, 1, disposition, BACKUP_SEMANTICS, handle));
        return handle[0];
    }

    static byte[] backupRead(Path path, int chunk, boolean security) {
        long handle = open(path, GENERIC_READ, OPEN_EXISTING);
        long[] context = {0};
        int[] read = {0};
        byte[] buffer = new byte[chunk + 3];
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        do {
            assertEquals(0, Win32Kernel.BackupRead(handle, buffer, 3, chunk, read, security, context));
            assertNotEquals(0L, context[0]);
            out.write(buffer, 3, read[0]);
        } while (read[0] > 0);
        assertEquals(0, Win32Kernel.BackupReadAbort(handle, security, context));
        assertEquals(0L, context[0]);
        assertEquals(0, Win32Kernel.CloseHandle(handle));
        return out.toByteArray();
    }

    static List<Stream> parse(byte[] bytes) {
        ByteBuffer b = Folders.little(bytes);
        List<Stream> streams = new ArrayList<>();
        while (b.remaining() > 0) {
            int id = b.getInt();
            int attributes = b.getInt();
            long size = b.getLong();
            int nameSize = b.getInt();
            byte[] name = new byte[nameSize];
            b.get(name);
            byte[] data = new byte[(int) size];
            b.get(data);
            streams.add(new Stream(id, attributes, new String(name, StandardCharsets.UTF_16LE), data));
        }
        return streams;
    }

    @Test
    void readGivesSecurityDataAndAlternateStreams() {
        List<Stream> streams = parse(backupRead(source, 4096, true));
        assertEquals(3, streams.size());
        assertEquals(3, streams.get(0).id()); // BACKUP_SECURITY_DATA
        assertEquals(2, streams.get(0).attributes()); // STREAM_CONTAINS_SECURITY
        byte[] descriptor = new byte[Win32Kernel.GetFileSecurityLength(Folders.windows(source))];
        assertEquals(0, Win32Kernel.GetFileSecurity(Folders.windows(source), descriptor));
        assertArrayEquals(descriptor, streams.get(0).data());
        assertEquals(1, streams.get(1).id()); // BACKUP_DATA
        assertEquals("", streams.get(1).name());
        assertArrayEquals(content, streams.get(1).data());
        assertEquals(4, streams.get(2).id()); // BACKUP_ALTERNATE_DATA
        assertEquals(":notes:$DATA", streams.get(2).name());
        assertEquals("alternate stream text", new String(streams.get(2).data(), StandardCharsets.UTF_8));
        // Without security the stream starts with the data.
        assertEquals(1, parse(backupRead(source, 100, false)).get(0).id());
    }

    @Test
    void writeInChunksRestoresAByteIdenticalCopy() throws IOException {
        byte[] backup = backupRead(source, 1000, true);
        for (int chunk : new int[] {1, 7, 4096}) {
            Path copy = folder.resolve("copy-" + chunk);
            long handle = open(copy, GENERIC_WRITE | WRITE_DAC_OWNER, CREATE_NEW);
            long[] context = {0};
            int[] written = {0};
            byte[] buffer = new byte[chunk + 5];
            for (int at = 0; at < backup.length; at += chunk) {
                int n = Math.min(chunk, backup.length - at);
                System.arraycopy(backup, at, buffer, 5, n);
                assertEquals(0, Win32Kernel.BackupWrite(handle, buffer, 5, n, written, true, context));
                assertEquals(n, written[0]);
            }
            assertEquals(0, Win32Kernel.BackupWriteAbort(handle, true, context));
            assertEquals(0L, context[0]);
            assertEquals(0, Win32Kernel.CloseHandle(handle));
            assertArrayEquals(content, Files.readAllBytes(copy), "chunk " + chunk);
            assertArrayEquals(Folders.stream(source, "notes"), Folders.stream(copy, "notes"), "chunk " + chunk);
            assertArrayEquals(backup, backupRead(copy, 4096, true), "chunk " + chunk);
        }
    }

    @Test
    void outArrayAndRangeRulesReadNothing() {
        long handle = open(source, GENERIC_READ, OPEN_EXISTING);
        long[] context = {0};
        byte[] buffer = new byte[64];
        assertEquals(87, Win32Kernel.BackupRead(handle, buffer, 0, 64, new int[2], false, context));
        assertEquals(87, Win32Kernel.BackupRead(handle, buffer, 0, 64, new int[1], false, new long[2]));
        assertEquals(87, Win32Kernel.BackupRead(handle, buffer, 1, 64, new int[1], false, context));
        assertEquals(87, Win32Kernel.BackupRead(handle, buffer, -1, 4, new int[1], false, context));
        assertEquals(87, Win32Kernel.BackupRead(handle, buffer, 0, -4, new int[1], false, context));
        assertEquals(87, Win32Kernel.BackupWrite(handle, buffer, 60, 5, new int[1], false, context));
        assertEquals(87, Win32Kernel.BackupSeek(handle, 5, new long[2], context));
        assertEquals(87, Win32Kernel.BackupReadAbort(handle, false, new long[0]));
        assertArrayEquals(new byte[64], buffer);
        assertEquals(0L, context[0]);
        // Nothing was read: the first read still starts with the data stream's header.
        int[] read = {0};
        assertEquals(0, Win32Kernel.BackupRead(handle, buffer, 0, 20, read, false, context));
        assertEquals(20, read[0]);
        assertEquals(1, Folders.little(buffer).getInt(0));
        assertEquals(0, Win32Kernel.BackupReadAbort(handle, false, context));
        assertEquals(0L, context[0]);
        // After the abort a new sequence starts from the beginning.
        assertEquals(0, Win32Kernel.BackupRead(handle, buffer, 0, 20, read, false, context));
        assertEquals(1, Folders.little(buffer).getInt(0));
        assertEquals(content.length, Folders.little(buffer).getLong(8));
        assertEquals(0, Win32Kernel.BackupReadAbort(handle, false, context));
        assertEquals(0, Win32Kernel.CloseHandle(handle));
    }

    @Test
    void seekPassesBothHalvesOfTheDistance() throws IOException {
        Path sparse = folder.resolve("sparse.bin");
        long size = (1L << 32) + 10;
        try (RandomAccessFile file = new RandomAccessFile(sparse.toFile(), "rw")) {
            file.setLength(size);
            file.seek(size - 5);
            file.write("TAIL!".getBytes(StandardCharsets.US_ASCII));
        }
        long handle = open(sparse, GENERIC_READ, OPEN_EXISTING);
        long[] context = {0};
        int[] read = {0};
        byte[] buffer = new byte[64];
        assertEquals(0, Win32Kernel.BackupRead(handle, buffer, 0, 20, read, false, context));
        assertEquals(size, Folders.little(buffer).getLong(8));
        long[] seeked = {0};
        assertEquals(0, Win32Kernel.BackupSeek(handle, (1L << 32) + 5, seeked, context));
        assertEquals((1L << 32) + 5, seeked[0]);
        assertEquals(0, Win32Kernel.BackupRead(handle, buffer, 0, 64, read, false, context));
        assertEquals(5, read[0]);
        assertEquals("TAIL!", new String(buffer, 0, 5, StandardCharsets.US_ASCII));
        // A seek beyond the stream stops at its end and says so.
        assertEquals(25, Win32Kernel.BackupSeek(handle, 1, seeked, context)); // ERROR_SEEK
        assertEquals(0L, seeked[0]);
        assertEquals(0, Win32Kernel.BackupReadAbort(handle, false, context));
        assertEquals(0, Win32Kernel.CloseHandle(handle));
        Files.delete(sparse);
    }
}
