package com.ombrel.snapshotfs;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ombrel.disk.win32.Win32Kernel;
import com.ombrel.testing.Folders;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.Set;
import java.util.TreeSet;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class FileNativesTest {
    static final int GENERIC_READ = 0x80000000;
    static final int GENERIC_WRITE = 0x40000000;
    static final int CREATE_NEW = 1;
    static final int OPEN_EXISTING = 3;
    static final int BACKUP_SEMANTICS = 0x02000000;

    Path folder;

    @BeforeEach
    void tree() throws IOException {
        folder = Folders.fresh("files");
        Files.write(folder.resolve("alpha.txt"), "alpha".getBytes(StandardCharsets.UTF_8));
        Files.write(folder.resolve("Beta.DAT"), new byte[1234]);
        Files.createDirectory(folder.resolve("sub"));
        Files.write(folder.resolve("sub").resolve("inner.txt"), new byte[3]);
    }

    static Set<String> find(String pattern) {
        long[] search = {0};
        byte[] data = new byte[592];
        Set<String> names = new TreeSet<>();
        int status = Win32Kernel.FindFirstFile0(pattern, 1, 0, search, data);
        if (status != 0) {
            assertEquals(-1L, search[0]);
            return names;
        }
        do {
            names.add(Folders.wide(data, 44, 260));
        } while (Win32Kernel.FindNextFile(search[0], data) == 0);
        assertEquals(18, Win32Kernel.FindNextFile(search[0], data)); // ERROR_NO_MORE_FILES
        assertEquals(0, Win32Kernel.FindClose(search[0]));
        return names;
    }

    @Test
    void moduleNamedBeyondTheBmpLoads() throws IOException {
        // A copy of a library under a name the natives write whole (Java here may not).
        byte[] library = Files.readAllBytes(Path.of(System.getProperty("om.bin"), "libomvss-testhooks.so"));
        String name = Folders.windows(folder) + "\\hooks-\u00e4-\uD83D\uDE00.so";
        long[] handle = {0};
        assertEquals(0, Win32Kernel.CreateFile0(name, GENERIC_WRITE, 0, CREATE_NEW, 0, handle));
        int[] written = {0};
        assertEquals(0, Win32Kernel.WriteFile(handle[0], library, 0, library.length, written));
        assertEquals(0, Win32Kernel.CloseHandle(handle[0]));
        long[] module = {0};
        assertEquals(0, Win32Kernel.LoadLibrary(name, module));
        long[] entry = {0};
        assertEquals(0, Win32Kernel.GetProcAddress(module[0], "Java_com_ombrel_snapshotfs_VssStandIn_liveObjects",
                entry));
        assertNotEquals(0L, entry[0]);
    }

    @Test
    void findListsTheFolderWithDotEntries() {
        assertEquals(new TreeSet<>(Arrays.asList(".", "..", "alpha.txt", "Beta.DAT", "sub")),
                find(Folders.windows(folder) + "\\*"));
        assertEquals(Set.of("alpha.txt"), find(Folders.windows(folder) + "\\*.TXT"));
        assertEquals(Set.of("Beta.DAT"), find(Folders.windows(folder) + "\\b?ta.dat"));
    }

    @Test
    void findFillsSizeAndAttributes() {
        long[] search = {0};
        byte[] data = new byte[600];
        assertEquals(0, Win32Kernel.FindFirstFile0(Folders.windows(folder.resolve("Beta.DAT")), 0, 0, search, data));
        ByteBuffer b = Folders.little(data);
        assertEquals(0x20, b.getInt(0) & 0x30);
        assertEquals(0, b.getInt(28));
        assertEquals(1234, b.getInt(32));
        assertEquals(0, Win32Kernel.FindClose(search[0]));
        assertEquals(0, Win32Kernel.FindFirstFile0(Folders.windows(folder.resolve("sub")), 0, 0, search, data));
        assertEquals(0x10, Folders.little(data).getInt(0) & 0x10);
        assertEquals(0, Win32Kernel.FindClose(search[0]));
    }

    @Test
    void findOfNothingWritesInvalidHandle() {
        long[] search = {5};
        assertEquals(2, Win32Kernel.FindFirstFile0(Folders.windows(folder) + "\\nothing*", 0, 0, search, new byte[592]));
        assertEquals(-1L, search[0]);
    }

    @Test
    void findRulesForArrays() {
        long[] search = {5};
        assertEquals(122, Win32Kernel.FindFirstFile0(Folders.windows(folder) + "\\*", 0, 0, search, new byte[591]));
        assertEquals(5L, search[0]);
        long[] two = {5, 6};
        assertEquals(87, Win32Kernel.FindFirstFile0(Folders.windows(folder) + "\\*", 0, 0, two, new byte[592]));
        assertArrayEquals(new long[] {5, 6}, two);
        assertEquals(87, Win32Kernel.FindFirstFile0(Folders.windows(folder) + "\\*", 0, 0, new long[0], new byte[592]));
        assertEquals(122, Win32Kernel.FindNextFile(1, new byte[100]));
    }

    @Test
    void createWritesFromOffsetAndReportsCount() throws IOException {
        Path file = folder.resolve("written.bin");
        long[] handle = {0};
        assertEquals(0, Win32Kernel.CreateFile0(Folders.windows(file), GENERIC_WRITE, 0, CREATE_NEW, 0x80, handle));
        byte[] source = new byte[20];
        for (int i = 0; i < source.length; i++) {
            source[i] = (byte) i;
        }
        int[] written = {-1};
        assertEquals(0, Win32Kernel.WriteFile(handle[0], source, 10, 5, written));
        assertEquals(5, written[0]);
        // Out-of-range offsets and lengths are refused before anything is written.
        int[] untouched = {-1};
        assertEquals(87, Win32Kernel.WriteFile(handle[0], source, -1, 5, untouched));
        assertEquals(87, Win32Kernel.WriteFile(handle[0], source, 16, 5, untouched));
        assertEquals(87, Win32Kernel.WriteFile(handle[0], source, 0, -1, untouched));
        assertEquals(87, Win32Kernel.WriteFile(handle[0], source, Integer.MAX_VALUE, 2, untouched));
        assertEquals(87, Win32Kernel.WriteFile(handle[0], source, 0, 5, new int[2]));
        assertEquals(-1, untouched[0]);
        assertEquals(0, Win32Kernel.SetFilePointerEx(handle[0], 1, 0));
        assertEquals(0, Win32Kernel.WriteFile(handle[0], source, 0, 1, written));
        assertEquals(0, Win32Kernel.CloseHandle(handle[0]));
        assertArrayEquals(new byte[] {10, 0, 12, 13, 14}, Files.readAllBytes(file));
        assertEquals(6, Win32Kernel.CloseHandle(handle[0]));
    }

    @Test
    void createRulesAndFailures() {
        long[] two = {7, 8};
        Path file = folder.resolve("never.bin");
        assertEquals(87, Win32Kernel.CreateFile0(Folders.windows(file), GENERIC_WRITE, 0, CREATE_NEW, 0, two));
        assertArrayEquals(new long[] {7, 8}, two);
        assertFalse(Files.exists(file));
        long[] handle = {0};
        assertEquals(2, Win32Kernel.CreateFile0(Folders.windows(file), GENERIC_READ, 0, OPEN_EXISTING, 0, handle));
        assertEquals(-1L, handle[0]);
        assertEquals(80, Win32Kernel.CreateFile0(Folders.windows(folder.resolve("alpha.txt")), GENERIC_WRITE, 0,
                CREATE_NEW, 0, handle));
    }

    @Test
    void nameHoldingZeroIsRefusedBeforeItReachesAnotherFile() throws IOException {
        Path victim = folder.resolve("alpha.txt");
        String name = Folders.windows(victim) + "\0.new";
        long[] handle = {5};
        assertEquals(123, Win32Kernel.CreateFile0(name, GENERIC_WRITE, 0, 2 /* CREATE_ALWAYS */, 0, handle));
        assertArrayEquals("alpha".getBytes(StandardCharsets.UTF_8), Files.readAllBytes(victim));
        assertEquals(123, Win32Kernel.SetFileAttributes(name, 1));
        assertEquals(123, Win32Kernel.GetFileAttributesEx(name, new byte[36]));
        assertEquals(123, Win32Kernel.FindFirstFile0(name, 0, 0, handle, new byte[592]));
        assertEquals(123, Win32Kernel.GetFileSecurity(name, new byte[256]));
        assertEquals(0, Win32Kernel.GetFileSecurityLength(name));
        assertEquals(123, Win32Kernel.LoadLibrary("ntdll.dll\0x", handle));
        assertEquals(5L, handle[0]);
        byte[] data = new byte[36];
        assertEquals(0, Win32Kernel.GetFileAttributesEx(Folders.windows(victim), data));
        assertEquals(0, Folders.little(data).getInt(0) & 1);
    }

    @Test
    void attributeDataAndReadOnly() {
        String path = Folders.windows(folder.resolve("Beta.DAT"));
        byte[] data = new byte[36];
        assertEquals(0, Win32Kernel.GetFileAttributesEx(path, data));
        ByteBuffer b = Folders.little(data);
        assertEquals(1234, b.getInt(32));
        assertEquals(0, b.getInt(0) & 1);
        assertNotEquals(0L, b.getLong(20));
        byte[] shorter = new byte[35];
        assertEquals(122, Win32Kernel.GetFileAttributesEx(path, shorter));
        assertArrayEquals(new byte[35], shorter);
        assertEquals(0, Win32Kernel.SetFileAttributes(path, 1));
        assertEquals(0, Win32Kernel.GetFileAttributesEx(path, data));
        assertEquals(1, Folders.little(data).getInt(0) & 1);
        assertEquals(0, Win32Kernel.SetFileAttributes(path, 0x80));
        assertEquals(0, Win32Kernel.GetFileAttributesEx(path, data));
        assertEquals(0, Folders.little(data).getInt(0) & 1);
        assertEquals(2, Win32Kernel.GetFileAttributesEx(Folders.windows(folder.resolve("gone")), data));
    }

    @Test
    void informationByHandle() throws IOException {
        long[] handle = {0};
        Path file = folder.resolve("Beta.DAT");
        assertEquals(0, Win32Kernel.CreateFile0(Folders.windows(file), GENERIC_READ | GENERIC_WRITE, 7, OPEN_EXISTING,
                0, handle));
        byte[] info = new byte[52];
        assertEquals(0, Win32Kernel.GetFileInformationByHandle(handle[0], info));
        ByteBuffer b = Folders.little(info);
        assertEquals(1234, b.getInt(36));
        assertEquals(1, b.getInt(40));
        long inode = (Long) Files.getAttribute(file, "unix:ino");
        assertEquals(inode, ((long) b.getInt(44) << 32) | (b.getInt(48) & 0xFFFFFFFFL));
        byte[] shorter = new byte[51];
        assertEquals(122, Win32Kernel.GetFileInformationByHandle(handle[0], shorter));
        assertArrayEquals(new byte[51], shorter);

        byte[] standard = new byte[24];
        assertEquals(0, Win32Kernel.GetFileInformationByHandleEx(handle[0], 1, standard));
        assertEquals(1234L, Folders.little(standard).getLong(8));
        assertEquals(0, standard[21]);
        byte[] basic = new byte[40];
        assertEquals(0, Win32Kernel.GetFileInformationByHandleEx(handle[0], 0, basic));
        assertNotEquals(0L, Folders.little(basic).getLong(16));
        byte[] name = new byte[1024];
        assertEquals(0, Win32Kernel.GetFileInformationByHandleEx(handle[0], 2, name));
        int length = Folders.little(name).getInt(0);
        assertTrue(Folders.wide(name, 4, length, true).endsWith("\\Beta.DAT"));
        assertEquals(87, Win32Kernel.GetFileInformationByHandleEx(handle[0], 99, new byte[64]));

        byte[] end = new byte[8];
        Folders.little(end).putLong(0, 3);
        assertEquals(0, Win32Kernel.SetFileInformationByHandle(handle[0], 6, end));
        assertEquals(3L, Files.size(file));
        assertEquals(0, Win32Kernel.CloseHandle(handle[0]));
    }

    @Test
    void folderOpensWithBackupSemantics() {
        long[] handle = {0};
        String sub = Folders.windows(folder.resolve("sub"));
        assertEquals(5, Win32Kernel.CreateFile0(sub, GENERIC_READ, 7, OPEN_EXISTING, 0, handle));
        assertEquals(0, Win32Kernel.CreateFile0(sub, GENERIC_READ, 7, OPEN_EXISTING, BACKUP_SEMANTICS, handle));
        byte[] standard = new byte[24];
        assertEquals(0, Win32Kernel.GetFileInformationByHandleEx(handle[0], 1, standard));
        assertEquals(1, standard[21]);
        assertEquals(0, Win32Kernel.CloseHandle(handle[0]));
    }

    @Test
    void securityDescriptorInTwoCalls() {
        String path = Folders.windows(folder.resolve("alpha.txt"));
        int length = Win32Kernel.GetFileSecurityLength(path);
        assertTrue(length > 20, "length " + length);
        byte[] descriptor = new byte[length];
        assertEquals(0, Win32Kernel.GetFileSecurity(path, descriptor));
        ByteBuffer b = Folders.little(descriptor);
        assertEquals(1, descriptor[0]);
        assertEquals(0x8004, b.getShort(2) & 0xFFFF); // self-relative, DACL present
        int owner = b.getInt(4);
        int group = b.getInt(8);
        int dacl = b.getInt(16);
        assertEquals(0, b.getInt(12)); // no system access list
        assertTrue(owner >= 20 && owner < length && group >= 20 && group < length && dacl >= 20 && dacl < length);
        assertEquals(1, descriptor[owner]); // SID revision
        assertEquals(2, descriptor[dacl]); // ACL revision
        assertEquals(length - dacl, b.getShort(dacl + 2) & 0xFFFF);
        assertEquals(122, Win32Kernel.GetFileSecurity(path, new byte[length - 1]));
        assertEquals(0, Win32Kernel.GetFileSecurityLength(Folders.windows(folder.resolve("gone"))));
        assertEquals(2, Win32Kernel.GetFileSecurity(Folders.windows(folder.resolve("gone")), descriptor));
    }

    @Test
    void modulesAndEntries() {
        long[] module = {0};
        assertEquals(0, Win32Kernel.LoadLibrary("ntdll.dll", module));
        assertNotEquals(0L, module[0]);
        long[] entry = {0};
        assertEquals(0, Win32Kernel.GetProcAddress(module[0], "NtQueryDirectoryFile", entry));
        assertNotEquals(0L, entry[0]);
        long[] untouched = {9};
        assertEquals(127, Win32Kernel.GetProcAddress(module[0], "NoSuchEntry", untouched));
        assertEquals(9L, untouched[0]);
        assertEquals(87, Win32Kernel.LoadLibrary("ntdll.dll", new long[0]));
        assertEquals(87, Win32Kernel.GetProcAddress(module[0], "NtQueryDirectoryFile", new long[0]));
        assertEquals(126, Win32Kernel.LoadLibrary("no-such-module.dll", untouched));
        assertEquals(9L, untouched[0]);
    }
}
