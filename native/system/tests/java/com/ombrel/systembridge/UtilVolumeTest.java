package com.ombrel.systembridge;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ombrel.agentframework.os.win32.MountpointIterator;
import com.ombrel.agentframework.os.win32.Util;
import com.ombrel.agentframework.os.win32.VolumeUtil;
import com.ombrel.testing.Folders;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.FileTime;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

class UtilVolumeTest {
    @BeforeAll
    static void init() {
        Util.init();
        VolumeUtil.init();
        MountpointIterator.init();
    }

    @Test
    void hostQueries() throws IOException {
        assertEquals(1, Util.GetProductType());
        String host = Files.readString(Path.of("/proc/sys/kernel/hostname")).trim();
        String label = host.contains(".") ? host.substring(0, host.indexOf('.')) : host;
        assertEquals(label, Util.GetComputerNameEx(1));
        assertEquals(host, Util.GetComputerNameEx(3));
        String netbios = label.toUpperCase(Locale.ROOT);
        assertEquals(netbios.length() > 15 ? netbios.substring(0, 15) : netbios, Util.GetComputerNameEx(0));
        Exception bad = assertThrows(Exception.class, () -> Util.GetComputerNameEx(99));
        assertEquals("The parameter is incorrect.", bad.getMessage());
    }

    @Test
    void backgroundModeBeginsAndEndsOnce() {
        assertTrue(Util.beginThreadBackgroundProcessingMode());
        assertFalse(Util.beginThreadBackgroundProcessingMode());
        assertTrue(Util.endThreadBackgroundProcessingMode());
        assertFalse(Util.endThreadBackgroundProcessingMode());
    }

    @Test
    void fileIdentityAndMinimalInformation() throws IOException {
        Path folder = Folders.fresh("util");
        Path file = folder.resolve("f.dat");
        Files.write(file, new byte[4321]);
        Files.setLastModifiedTime(file, FileTime.fromMillis(1000));
        long inode = ((Number) Files.getAttribute(file, "unix:ino")).longValue();
        assertEquals(inode, Util.getFileId(Folders.windows(file)));
        MinimalInfo info = new MinimalInfo();
        Util.getFileInformationMinimal(Folders.windows(file), info);
        assertEquals(inode, info.fileIndex);
        assertEquals(4321, info.fileSize);
        assertEquals(1000, info.ftLastWriteTime);
        assertEquals(0, info.dwFileAttributes & 0x10);
        Util.getFileInformationMinimal(Folders.windows(folder), info);
        assertEquals(0x10, info.dwFileAttributes & 0x10);
        IOException missing = assertThrows(IOException.class, () -> Util.getFileId(Folders.windows(folder.resolve("x"))));
        assertEquals("The system cannot find the file specified.", missing.getMessage());
        assertThrows(IOException.class, () -> Util.getFileInformationMinimal(Folders.windows(folder.resolve("x")), info));
        NullPointerException npe = assertThrows(NullPointerException.class,
                () -> Util.getFileInformationMinimal(Folders.windows(file), null));
        assertEquals("", npe.getMessage());
        // Objects of other classes get their own class's fields, or the lookup's error.
        OtherInfo other = new OtherInfo();
        Util.getFileInformationMinimal(Folders.windows(file), other);
        assertEquals(4321, other.fileSize);
        assertEquals(1000, other.ftLastWriteTime);
        assertThrows(NoSuchFieldError.class, () -> Util.getFileInformationMinimal(Folders.windows(file), "text"));
        Util.getFileInformationMinimal(Folders.windows(file), info);
        assertEquals(inode, info.fileIndex);
    }

    /** The same fields in another class, declared in another order. */
    static final class OtherInfo {
        long ftLastWriteTime;
        long fileSize;
        long fileIndex;
        int dwFileAttributes;
    }

    @Test
    void serviceStopAndCatalogueRestore() {
        Exception missing = assertThrows(Exception.class, () -> Util.StopServiceN("OmNoSuchService"));
        assertEquals("The specified service does not exist as an installed service.", missing.getMessage());
        assertThrows(NullPointerException.class, () -> Util.StopServiceN(null));
        assertEquals(0, Util.RegDBRestoreN("C:\\backup\\catalog.clb"));
    }

    @Test
    void catalogueRestoreWithTheLibraryPresent() throws IOException {
        // The stand-in goes where the loader finds catsrvut.dll for as long as the test needs it.
        Path slot = Path.of(System.getenv("OM_CATALOGUE_SLOT"));
        Files.createDirectories(slot);
        Path library = Files.copy(Path.of(System.getenv("OM_CATALOGUE_STANDIN")), slot.resolve("libcatsrvut.so"));
        try {
            Path backup = Files.write(Folders.fresh("catalogue").resolve("catalog.clb"), new byte[] {1});
            assertNotEquals(0, Util.RegDBRestoreN(Folders.windows(backup)));
            // A failing restore reports the text of the HRESULT it returned, not the last error it left.
            Exception failed = assertThrows(Exception.class,
                    () -> Util.RegDBRestoreN(Folders.windows(backup) + ".missing"));
            assertEquals("The system cannot find the file specified.", failed.getMessage());
        } finally {
            Files.delete(library);
        }
        assertEquals(0, Util.RegDBRestoreN("C:\\backup\\catalog.clb"));
    }

    @Test
    void volumePaths() throws IOException {
        NullPointerException npe = assertThrows(NullPointerException.class, () -> VolumeUtil.GetVolumePathName(null));
        assertEquals("path is null", npe.getMessage());
        IOException empty = assertThrows(IOException.class, () -> VolumeUtil.GetVolumePathName(""));
        assertEquals("path is empty", empty.getMessage());
        assertEquals("C:\\", VolumeUtil.GetVolumePathName("C:\\"));
        assertEquals("D:\\", VolumeUtil.GetVolumePathName("D:\\data\\file"));
        Path folder = Folders.fresh("volume");
        String path = Folders.windows(folder);
        String volume = VolumeUtil.GetVolumePathName(path);
        assertTrue(volume.endsWith("\\"));
        assertTrue(path.toLowerCase(Locale.ROOT).startsWith(volume.toLowerCase(Locale.ROOT)), volume);

        npe = assertThrows(NullPointerException.class, () -> VolumeUtil.GetVolumeNameForVolumeMountPoint(null));
        assertEquals("mount name is null", npe.getMessage());
        String name = VolumeUtil.GetVolumeNameForVolumeMountPoint("C:\\");
        assertTrue(name.startsWith("\\\\?\\Volume{") && name.endsWith("}\\"), name);
        if (!volume.equals("C:\\")) {  // a mounted folder is a volume of its own
            String mounted = VolumeUtil.GetVolumeNameForVolumeMountPoint(volume);
            assertTrue(mounted.startsWith("\\\\?\\Volume{"), mounted);
            assertNotEquals(name, mounted);
        }
        assertThrows(IOException.class, () -> VolumeUtil.GetVolumeNameForVolumeMountPoint(path + "\\"));
    }

    @Test
    void mountPoints() throws IOException {
        assertThrows(NullPointerException.class, () -> MountpointIterator.FindFirstVolumeMountPoint("C:\\", null));
        Files.createDirectories(Path.of(System.getenv("OM_STANDIN_ROOT"), "drives", "d"));
        StringBuilder none = new StringBuilder();
        assertEquals(0, MountpointIterator.FindFirstVolumeMountPoint("D:\\", none));
        assertEquals(0, none.length());
        IOException noDrive = assertThrows(IOException.class,
                () -> MountpointIterator.FindFirstVolumeMountPoint("Q:\\", new StringBuilder()));
        assertEquals("The system cannot find the path specified.", noDrive.getMessage());

        StringBuilder out = new StringBuilder();
        long handle = MountpointIterator.FindFirstVolumeMountPoint("C:\\", out);
        List<Integer> ends = new ArrayList<>();
        if (handle != 0) {
            ends.add(out.length());
            while (MountpointIterator.FindNextVolumeMountPoint(handle, out)) {
                ends.add(out.length());
            }
            assertTrue(MountpointIterator.FindVolumeMountPointClose(handle));
            assertFalse(MountpointIterator.FindVolumeMountPointClose(handle));
        }
        int start = 0;
        for (int end : ends) {
            String mount = out.substring(start, end);
            assertTrue(mount.endsWith("\\") && !mount.startsWith("\\"), mount);
            assertTrue(Files.isDirectory(Path.of("/" + mount.replace('\\', '/'))), mount);
            start = end;
        }
    }
}
