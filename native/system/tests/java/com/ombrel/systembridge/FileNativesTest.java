package com.ombrel.systembridge;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ombrel.agentframework.os.win32.BackupApi;
import com.ombrel.agentframework.os.win32.RegValue;
import com.ombrel.agentframework.os.win32.RegistryApi;
import com.ombrel.testing.Folders;
import com.ombrel.util.file.nativefs.Win32FileNatives;
import java.io.FileNotFoundException;
import java.io.IOException;
import java.io.RandomAccessFile;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Map;
import java.util.TreeMap;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class FileNativesTest {
    static final int WAIT_OBJECT_0 = 0;
    static final int WAIT_TIMEOUT = 258;
    static final int CHANGE_FILE_NAME = 0x1;
    static final int CHANGE_LAST_WRITE = 0x10;

    Path folder;

    @BeforeEach
    void folder() throws IOException {
        folder = Folders.fresh("filenatives");
    }

    Map<String, FindEntry> list(String pattern) throws IOException {
        Map<String, FindEntry> entries = new TreeMap<>();
        FindEntry entry = new FindEntry();
        long handle = Win32FileNatives.nativeFindFirstFile(pattern, entry);
        assertNotEquals(0L, handle);
        do {
            FindEntry copy = new FindEntry();
            copy.filename = entry.filename;
            copy.fileattrib = entry.fileattrib;
            copy.filesize = entry.filesize;
            copy.directory = entry.directory;
            copy.isSymbolicLink = entry.isSymbolicLink;
            copy.isJunctionPoint = entry.isJunctionPoint;
            copy.extraFlags = entry.extraFlags;
            entries.put(copy.filename, copy);
        } while (Win32FileNatives.nativeFindNextFile(handle, entry) == entry);
        assertTrue(Win32FileNatives.nativeFindClose(handle));
        return entries;
    }

    @Test
    void listingWithReparsePoints() throws IOException {
        Path sub = Files.createDirectory(folder.resolve("sub"));
        Files.write(folder.resolve("plain.txt"), new byte[123]);
        Files.createSymbolicLink(folder.resolve("junction"), sub);
        Files.createSymbolicLink(folder.resolve("link.txt"), folder.resolve("plain.txt"));
        try (RandomAccessFile big = new RandomAccessFile(folder.resolve("big.dat").toFile(), "rw")) {
            big.setLength(5L << 30);
        }
        Map<String, FindEntry> entries = list(Folders.windows(folder) + "\\*");
        assertEquals(Map.of().size() + 7, entries.size());  // ".", "..", five entries
        FindEntry junction = entries.get("junction");
        assertTrue(junction.directory);
        assertTrue(junction.isJunctionPoint);
        assertFalse(junction.isSymbolicLink);
        assertEquals(0xA0000003L, junction.extraFlags);
        assertEquals(0x410L, junction.fileattrib & 0x410L);
        FindEntry link = entries.get("link.txt");
        assertTrue(link.isSymbolicLink);
        assertFalse(link.isJunctionPoint);
        assertEquals(0xA000000CL, link.extraFlags);
        FindEntry plain = entries.get("plain.txt");
        assertFalse(plain.isSymbolicLink || plain.isJunctionPoint || plain.directory);
        assertEquals(0, plain.extraFlags);
        assertEquals(123, plain.filesize);
        assertTrue(entries.get("sub").directory);
        assertEquals(5L << 30, entries.get("big.dat").filesize);
        // The size of a large file from the first result too.
        FindEntry first = new FindEntry();
        long handle = Win32FileNatives.nativeFindFirstFile(Folders.windows(folder.resolve("big.dat")), first);
        assertEquals(5L << 30, first.filesize);
        assertNull(Win32FileNatives.nativeFindNextFile(handle, first));
        Win32FileNatives.nativeFindClose(handle);
    }

    @Test
    void flagsDoNotCarryOverInOneEntry() throws IOException {
        Files.write(folder.resolve("a-plain.txt"), new byte[1]);
        Files.createSymbolicLink(folder.resolve("a-link.txt"), folder.resolve("a-plain.txt"));
        FindEntry entry = new FindEntry();
        long handle = Win32FileNatives.nativeFindFirstFile(Folders.windows(folder) + "\\a-*", entry);
        int links = 0;
        int plains = 0;
        do {
            if (entry.filename.equals("a-link.txt")) {
                assertTrue(entry.isSymbolicLink);
                links++;
            } else {
                assertFalse(entry.isSymbolicLink);
                assertFalse(entry.isJunctionPoint);
                assertEquals(0, entry.extraFlags);
                plains++;
            }
        } while (Win32FileNatives.nativeFindNextFile(handle, entry) != null);
        Win32FileNatives.nativeFindClose(handle);
        assertEquals(1, links);
        assertEquals(1, plains);
    }

    @Test
    void searchFailures() {
        FileNotFoundException none = assertThrows(FileNotFoundException.class,
                () -> Win32FileNatives.nativeFindFirstFile(Folders.windows(folder) + "\\*.none", new FindEntry()));
        assertEquals("", none.getMessage());
        NullPointerException npe = assertThrows(NullPointerException.class,
                () -> Win32FileNatives.nativeFindFirstFile(Folders.windows(folder), null));
        assertEquals("", npe.getMessage());
        assertThrows(NullPointerException.class, () -> Win32FileNatives.nativeFindNextFile(0, new FindEntry()));
        assertThrows(NullPointerException.class, () -> Win32FileNatives.nativeFindNextFile(1, null));
        assertThrows(NullPointerException.class, () -> Win32FileNatives.nativeFindFirstFile(null, new FindEntry()));
        assertFalse(Win32FileNatives.nativeFindClose(12345));
    }

    /** The entry's fields in another class, declared in another order. */
    static final class OtherEntry {
        long extraFlags;
        boolean isJunctionPoint;
        boolean isSymbolicLink;
        boolean directory;
        long filesize;
        long fileattrib;
        String filename;
    }

    @Test
    void entriesOfAnotherClass() throws IOException {
        Files.write(folder.resolve("one.txt"), new byte[3]);
        Files.write(folder.resolve("two.txt"), new byte[3]);
        String pattern = Folders.windows(folder) + "\\*.txt";
        long handle = Win32FileNatives.nativeFindFirstFile(pattern, new FindEntry());
        assertNotEquals(0L, handle);
        OtherEntry other = new OtherEntry();
        assertSame(other, Win32FileNatives.nativeFindNextFile(handle, other));
        assertEquals(3, other.filesize);
        assertTrue(other.filename.endsWith(".txt"));
        Win32FileNatives.nativeFindClose(handle);
        other = new OtherEntry();
        handle = Win32FileNatives.nativeFindFirstFile(pattern, other);
        assertEquals(3, other.filesize);
        assertThrows(NoSuchFieldError.class, () -> Win32FileNatives.nativeFindNextFile(1, "text"));
        assertThrows(NoSuchFieldError.class, () -> Win32FileNatives.nativeFindFirstFile(pattern, new MinimalInfo()));
        FindEntry entry = new FindEntry();
        assertSame(entry, Win32FileNatives.nativeFindNextFile(handle, entry));
        assertEquals(3, entry.filesize);
        assertTrue(Win32FileNatives.nativeFindClose(handle));
    }

    @Test
    void driveTypes() {
        assertEquals(3, Win32FileNatives.nativeDriveType("C:\\"));
        assertEquals(1, Win32FileNatives.nativeDriveType(Folders.windows(folder)));
        assertEquals(1, Win32FileNatives.nativeDriveType("Q:\\"));
        NullPointerException npe = assertThrows(NullPointerException.class, () -> Win32FileNatives.nativeDriveType(null));
        assertEquals("", npe.getMessage());
    }

    @Test
    void changeNotifications() throws IOException {
        long handle = Win32FileNatives.nativeFindFirstChangeNotification(Folders.windows(folder), false, CHANGE_FILE_NAME);
        assertNotEquals(-1L, handle);
        assertEquals(WAIT_TIMEOUT, Win32FileNatives.nativeWaitForSingleObject(handle, 0));
        Files.write(folder.resolve("new.txt"), new byte[1]);
        assertEquals(WAIT_OBJECT_0, Win32FileNatives.nativeWaitForSingleObject(handle, 10_000));
        assertEquals(WAIT_OBJECT_0, Win32FileNatives.nativeWaitForSingleObject(handle, 0));  // stays signalled
        assertTrue(Win32FileNatives.nativeFindNextChangeNotification(handle));
        assertEquals(WAIT_TIMEOUT, Win32FileNatives.nativeWaitForSingleObject(handle, 0));
        Files.delete(folder.resolve("new.txt"));
        assertEquals(WAIT_OBJECT_0, Win32FileNatives.nativeWaitForSingleObject(handle, 10_000));
        assertTrue(Win32FileNatives.nativeFindCloseChangeNotification(handle));
        assertFalse(Win32FileNatives.nativeFindCloseChangeNotification(handle));

        Path deep = Files.createDirectories(folder.resolve("a").resolve("b"));
        long tree = Win32FileNatives.nativeFindFirstChangeNotification(Folders.windows(folder), true, CHANGE_LAST_WRITE);
        Files.write(deep.resolve("file.txt"), new byte[] {1, 2});
        assertEquals(WAIT_OBJECT_0, Win32FileNatives.nativeWaitForSingleObject(tree, 10_000));
        Win32FileNatives.nativeFindCloseChangeNotification(tree);

        assertEquals(-1L, Win32FileNatives.nativeFindFirstChangeNotification(Folders.windows(folder.resolve("none")), false,
                CHANGE_FILE_NAME));
        assertEquals(-1L, Win32FileNatives.nativeFindFirstChangeNotification(Folders.windows(folder), false, 0));

        // A folder named beyond the BMP is watched under its own name (made through the natives,
        // which take the name whole).
        Files.createDirectory(folder.resolve("plain"));
        String watched = Folders.windows(folder) + "\\watch-\uD83D\uDE00";
        Win32FileNatives.MoveFileEx0(Folders.windows(folder.resolve("plain")), watched, 0);
        long named = Win32FileNatives.nativeFindFirstChangeNotification(watched, false, CHANGE_FILE_NAME);
        assertNotEquals(-1L, named);
        BackupApi.CloseHandle(BackupApi.CreateFile(watched + "\\new.txt", 0x40000000, 0, 0, 1, 0, 0));
        assertEquals(WAIT_OBJECT_0, Win32FileNatives.nativeWaitForSingleObject(named, 10_000));
        assertTrue(Win32FileNatives.nativeFindCloseChangeNotification(named));
    }

    @Test
    void namesHoldingZeroAreRefused() throws IOException {
        Path victim = folder.resolve("victim");
        Files.write(victim, new byte[] {7});
        String named = Folders.windows(victim) + "\0.tmp";
        IOException moved = assertThrows(IOException.class,
                () -> Win32FileNatives.MoveFileEx0(named, Folders.windows(folder.resolve("moved")), 1));
        assertEquals("The filename, directory name, or volume label syntax is incorrect.", moved.getMessage());
        assertThrows(IOException.class, () -> Win32FileNatives.MoveFileEx0(Folders.windows(folder.resolve("none")),
                named, 1));
        assertArrayEquals(new byte[] {7}, Files.readAllBytes(victim));
        assertThrows(FileNotFoundException.class, () -> Win32FileNatives.nativeFindFirstFile(named, new FindEntry()));
        assertEquals(-1L, Win32FileNatives.nativeFindFirstChangeNotification(Folders.windows(folder) + "\0x", false,
                CHANGE_FILE_NAME));
        assertEquals(0, Win32FileNatives.nativeDriveType("C:\\\0"));
    }

    @Test
    void moves() throws Exception {
        Path a = folder.resolve("a.txt");
        Path b = folder.resolve("b.txt");
        Files.write(a, new byte[] {1});
        Win32FileNatives.MoveFileEx0(Folders.windows(a), Folders.windows(b), 0);
        assertFalse(Files.exists(a));
        Files.write(a, new byte[] {2});
        IOException exists = assertThrows(IOException.class,
                () -> Win32FileNatives.MoveFileEx0(Folders.windows(a), Folders.windows(b), 0));
        assertEquals("Cannot create a file when that file already exists.", exists.getMessage());
        Win32FileNatives.MoveFileEx0(Folders.windows(a), Folders.windows(b), 1);
        assertArrayEquals(new byte[] {2}, Files.readAllBytes(b));
        IOException missing = assertThrows(IOException.class,
                () -> Win32FileNatives.MoveFileEx0(Folders.windows(a), Folders.windows(b), 1));
        assertEquals("The system cannot find the file specified.", missing.getMessage());
        assertThrows(NullPointerException.class, () -> Win32FileNatives.MoveFileEx0(null, Folders.windows(b), 0));

        // A null target with the delay flag asks for deletion at restart.
        Win32FileNatives.MoveFileEx0(Folders.windows(b), null, 4);
        assertTrue(Files.exists(b));
        long session = RegistryApi.RegOpenKeyEx(0x80000002L, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, 1);
        RegValue pending = new RegValue();
        RegistryApi.RegGetValue(session, "PendingFileRenameOperations", pending);
        RegistryApi.RegCloseKey(session);
        String[] list = pending.stringArray;
        assertEquals("\\??\\" + Folders.windows(b), list[list.length - 1]);
    }
}
