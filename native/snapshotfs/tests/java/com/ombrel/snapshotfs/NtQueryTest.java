package com.ombrel.snapshotfs;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ombrel.disk.win32.Win32Kernel;
import com.ombrel.disk.win32.Win32NtDll;
import com.ombrel.testing.Folders;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Set;
import java.util.TreeSet;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

class NtQueryTest {
    static final int STATUS_BUFFER_OVERFLOW = 0x80000005;
    static final int STATUS_NO_MORE_FILES = 0x80000006;
    static final int STATUS_INFO_LENGTH_MISMATCH = 0xC0000004;
    static final int FILE_DIRECTORY_INFORMATION = 1;
    static final int FILE_ID_BOTH_DIRECTORY_INFORMATION = 37;

    static long queryInformation;
    static long queryDirectory;

    @BeforeAll
    static void entries() {
        long[] module = {0};
        assertEquals(0, Win32Kernel.LoadLibrary("ntdll.dll", module));
        long[] entry = {0};
        assertEquals(0, Win32Kernel.GetProcAddress(module[0], "NtQueryInformationFile", entry));
        queryInformation = entry[0];
        assertEquals(0, Win32Kernel.GetProcAddress(module[0], "NtQueryDirectoryFile", entry));
        queryDirectory = entry[0];
    }

    static long open(Path path) {
        long[] handle = {0};
        assertEquals(0, Win32Kernel.CreateFile0(Folders.windows(path), 0x80000000, 7, 3, 0x02000000, handle));
        return handle[0];
    }

    /** Names in one buffer of directory records; checks their chaining and alignment. */
    static List<String> names(byte[] buffer, int nameOffset) {
        ByteBuffer b = Folders.little(buffer);
        List<String> names = new ArrayList<>();
        int at = 0;
        while (true) {
            assertEquals(0, at % 8);
            int length = b.getInt(at + 60);
            names.add(new String(buffer, at + nameOffset, length, StandardCharsets.UTF_16LE));
            int next = b.getInt(at);
            if (next == 0) {
                return names;
            }
            at += next;
        }
    }

    static Path folder;
    static Set<String> listing;

    @BeforeAll
    static void folder() throws IOException {
        folder = Folders.fresh("ntquery");
        for (int i = 0; i < 40; i++) {
            Files.write(folder.resolve("file-" + "x".repeat(i % 13) + "-" + i + ".dat"), new byte[i]);
        }
        Files.createDirectory(folder.resolve("Folder"));
        listing = new TreeSet<>(Set.of(".", ".."));
        try (Stream<Path> entries = Files.list(folder)) {
            entries.forEach(p -> listing.add(p.getFileName().toString()));
        }
    }

    Set<String> enumerate(long handle, int size, int informationClass, int nameOffset) {
        Set<String> union = new TreeSet<>();
        byte[] buffer = new byte[size];
        int status;
        while ((status = Win32NtDll.NtQueryDirectoryFile(queryDirectory, handle, informationClass, buffer)) == 0) {
            for (String name : names(buffer, nameOffset)) {
                assertTrue(union.add(name), "twice: " + name);
            }
        }
        assertEquals(STATUS_NO_MORE_FILES, status);
        return union;
    }

    @Test
    void directoryBuffersOfEverySizeListTheFolder() {
        long handle = open(folder);
        assertEquals(STATUS_INFO_LENGTH_MISMATCH,
                Win32NtDll.NtQueryDirectoryFile(queryDirectory, handle, FILE_DIRECTORY_INFORMATION, new byte[10]));
        // The fixed part without its padding is still too short (the structure is 72 bytes).
        assertEquals(STATUS_INFO_LENGTH_MISMATCH,
                Win32NtDll.NtQueryDirectoryFile(queryDirectory, handle, FILE_DIRECTORY_INFORMATION, new byte[64]));
        assertEquals(listing, enumerate(handle, 300, FILE_DIRECTORY_INFORMATION, 64));
        assertEquals(STATUS_NO_MORE_FILES,
                Win32NtDll.NtQueryDirectoryFile(queryDirectory, handle, FILE_DIRECTORY_INFORMATION, new byte[4096]));
        assertEquals(0, Win32Kernel.CloseHandle(handle));

        handle = open(folder);
        assertEquals(listing, enumerate(handle, 1 << 16, FILE_ID_BOTH_DIRECTORY_INFORMATION, 104));
        assertEquals(0, Win32Kernel.CloseHandle(handle));
        handle = open(folder);
        assertEquals(listing, enumerate(handle, 1024, FILE_DIRECTORY_INFORMATION, 64));
        assertEquals(0, Win32Kernel.CloseHandle(handle));
    }

    @Test
    void missingEntryIsInvalidParameter() {
        byte[] buffer = {1, 2, 3};
        assertEquals(87, Win32NtDll.NtQueryInformationFile(0, 1, 4, buffer));
        assertEquals(87, Win32NtDll.NtQueryDirectoryFile(0, 1, 1, buffer));
        assertArrayEquals(new byte[] {1, 2, 3}, buffer);
    }

    @Test
    void informationClasses() throws IOException {
        Path file = folder.resolve("file-xxxxx-5.dat");
        Folders.setStream(file, "extra", new byte[] {1, 2, 3});
        long handle = open(file);
        byte[] basic = new byte[40];
        assertEquals(0, Win32NtDll.NtQueryInformationFile(queryInformation, handle, 4, basic));
        assertEquals(0x20, Folders.little(basic).getInt(32) & 0x30);
        assertEquals(STATUS_INFO_LENGTH_MISMATCH, Win32NtDll.NtQueryInformationFile(queryInformation, handle, 4,
                new byte[39]));
        byte[] standard = new byte[24];
        assertEquals(0, Win32NtDll.NtQueryInformationFile(queryInformation, handle, 5, standard));
        assertEquals(5L, Folders.little(standard).getLong(8));
        assertEquals(0, standard[21]);
        byte[] internal = new byte[8];
        assertEquals(0, Win32NtDll.NtQueryInformationFile(queryInformation, handle, 6, internal));
        assertEquals((long) (Long) Files.getAttribute(file, "unix:ino"), Folders.little(internal).getLong(0));
        byte[] name = new byte[4096];
        assertEquals(0, Win32NtDll.NtQueryInformationFile(queryInformation, handle, 9, name));
        String text = new String(name, 4, Folders.little(name).getInt(0), StandardCharsets.UTF_16LE);
        assertTrue(text.endsWith("\\file-xxxxx-5.dat") && text.startsWith("\\"), text);
        assertEquals(STATUS_BUFFER_OVERFLOW, Win32NtDll.NtQueryInformationFile(queryInformation, handle, 9,
                new byte[10]));
        byte[] streams = new byte[4096];
        assertEquals(0, Win32NtDll.NtQueryInformationFile(queryInformation, handle, 22, streams));
        ByteBuffer b = Folders.little(streams);
        List<String> found = new ArrayList<>();
        int at = 0;
        while (true) {
            found.add(new String(streams, at + 24, b.getInt(at + 4), StandardCharsets.UTF_16LE));
            if (found.size() == 1) {
                assertEquals(5L, b.getLong(at + 8));
            } else {
                assertEquals(3L, b.getLong(at + 8));
            }
            if (b.getInt(at) == 0) {
                break;
            }
            at += b.getInt(at);
            assertEquals(0, at % 8);
        }
        assertEquals(List.of("::$DATA", ":extra:$DATA"), found);
        assertEquals(STATUS_BUFFER_OVERFLOW, Win32NtDll.NtQueryInformationFile(queryInformation, handle, 22,
                new byte[40]));
        assertEquals(0, Win32Kernel.CloseHandle(handle));
    }
}
