package com.ombrel.systembridge;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ombrel.agentframework.os.win32.BackupApi;
import com.ombrel.agentframework.os.win32.RegKey;
import com.ombrel.agentframework.os.win32.RegValue;
import com.ombrel.agentframework.os.win32.RegistryApi;
import com.ombrel.testing.Folders;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class RegistryApiTest {
    static final long HKLM = 0x80000002L;
    static final long HKU = 0x80000003L;
    static final int KEY_ALL_ACCESS = 0xF003F;

    static int counter;
    String name;
    long key;

    @BeforeAll
    static void init() {
        RegistryApi.init();
        BackupApi.init();
    }

    @BeforeEach
    void createKey() throws Exception {
        name = "SOFTWARE\\OmTest\\Key" + (++counter);
        RegKey created = RegistryApi.RegCreateKeyEx(HKLM, name, 0, KEY_ALL_ACCESS);
        assertEquals(1, created.disposition);
        key = created.ptr;
        RegKey again = RegistryApi.RegCreateKeyEx(HKLM, name, 0, KEY_ALL_ACCESS);
        assertEquals(2, again.disposition);
        RegistryApi.RegCloseKey(again.ptr);
    }

    @AfterEach
    void closeKey() throws Exception {
        RegistryApi.RegCloseKey(key);
    }

    static RegValue value(String name, int type) {
        RegValue v = new RegValue();
        v.name = name;
        v.type = type;
        return v;
    }

    static RegValue get(long key, String name) throws Exception {
        RegValue out = new RegValue();
        RegistryApi.RegGetValue(key, name, out);
        return out;
    }

    @Test
    void valuesOfEveryTypeRoundTrip() throws Exception {
        RegValue sz = value("Text", 1);
        sz.stringValue = "h\u00e9llo";
        RegValue expand = value("Path", 2);
        expand.stringValue = "%SystemRoot%\\x";
        RegValue binary = value("Blob", 3);
        binary.byteArray = new byte[] {0, 1, 2, (byte) 0xFF};
        RegValue dword = value("Number", 4);
        dword.dwordVal = 0x12345678;
        RegValue multi = value("List", 7);
        multi.stringArray = new String[] {"a", "b"};
        for (RegValue v : new RegValue[] {sz, expand, binary, dword, multi}) {
            RegistryApi.RegSetValueExW(key, v);
        }
        assertEquals("h\u00e9llo", get(key, "Text").stringValue);
        assertEquals(2, get(key, "Path").type);
        assertEquals("%SystemRoot%\\x", get(key, "Path").stringValue);
        assertArrayEquals(binary.byteArray, get(key, "Blob").byteArray);
        assertEquals(0x12345678, get(key, "Number").dwordVal);
        RegValue list = get(key, "List");
        assertEquals(7, list.type);
        assertEquals("List", list.name);
        assertArrayEquals(new String[] {"a", "b"}, list.stringArray);
        // The multi-string is stored as a, 0, b, 0, 0: 10 bytes.
        RegistryApi.RegCopyValue(key, "List", key);
        RegValue copied = get(key, "List");
        assertArrayEquals(new String[] {"a", "b"}, copied.stringArray);
        RegValue asBinary = value("Raw", 3);
        asBinary.byteArray = new byte[] {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0};
        RegistryApi.RegSetValueExW(key, asBinary);
        assertEquals(10, get(key, "Raw").byteArray.length);
    }

    @Test
    void enumerationEndsWithFalseAndNull() throws Exception {
        RegValue one = value("One", 4);
        one.dwordVal = 1;
        RegValue two = value("Two", 1);
        two.stringValue = "2";
        RegistryApi.RegSetValueExW(key, one);
        RegistryApi.RegSetValueExW(key, two);
        List<String> names = new ArrayList<>();
        RegValue out = new RegValue();
        int index = 0;
        while (RegistryApi.RegEnumValueW(key, index++, out)) {
            names.add(out.name + "=" + out.type);
        }
        assertEquals(List.of("One=4", "Two=1"), names);
        assertFalse(RegistryApi.RegEnumValueW(key, 5, out));

        RegistryApi.RegCloseKey(RegistryApi.RegCreateKeyEx(key, "ChildA", 0, KEY_ALL_ACCESS).ptr);
        RegistryApi.RegCloseKey(RegistryApi.RegCreateKeyEx(key, "ChildB", 0, KEY_ALL_ACCESS).ptr);
        assertEquals("ChildA", RegistryApi.RegEnumKeyExW(key, 0));
        assertEquals("ChildB", RegistryApi.RegEnumKeyExW(key, 1));
        assertNull(RegistryApi.RegEnumKeyExW(key, 2));
        RegistryApi.RegDeleteKey(key, "ChildA");
        assertEquals("ChildB", RegistryApi.RegEnumKeyExW(key, 0));
        Exception gone = assertThrows(Exception.class, () -> RegistryApi.RegDeleteKey(key, "ChildA"));
        assertEquals("The system cannot find the file specified.", gone.getMessage());
    }

    @Test
    void namesHoldingZeroAreRefused() throws Exception {
        Exception created = assertThrows(Exception.class,
                () -> RegistryApi.RegCreateKeyEx(key, "ProbeNul\0Hidden", 0, KEY_ALL_ACCESS));
        assertEquals("The filename, directory name, or volume label syntax is incorrect.", created.getMessage());
        assertNull(RegistryApi.RegEnumKeyExW(key, 0));
        RegValue named = value("Value\0Other", 4);
        assertThrows(Exception.class, () -> RegistryApi.RegSetValueExW(key, named));
        assertFalse(RegistryApi.RegEnumValueW(key, 0, new RegValue()));
        RegistryApi.RegCloseKey(RegistryApi.RegCreateKeyEx(key, "Child", 0, KEY_ALL_ACCESS).ptr);
        assertThrows(Exception.class, () -> RegistryApi.RegDeleteKey(key, "Child\0x"));
        assertThrows(Exception.class, () -> RegistryApi.RegOpenKeyEx(key, "Child\0x", 0, KEY_ALL_ACCESS));
        assertEquals("Child", RegistryApi.RegEnumKeyExW(key, 0));
    }

    @Test
    void edgeValues() throws Exception {
        RegValue qword = value("Q", 11);
        Exception refused = assertThrows(Exception.class, () -> RegistryApi.RegSetValueExW(key, qword));
        assertEquals("Registry value type not supported", refused.getMessage());
        RegValue noBytes = value("B", 3);
        NullPointerException npe = assertThrows(NullPointerException.class, () -> RegistryApi.RegSetValueExW(key, noBytes));
        assertEquals("RegValue byte array is null", npe.getMessage());
        RegValue noStrings = value("M", 7);
        npe = assertThrows(NullPointerException.class, () -> RegistryApi.RegSetValueExW(key, noStrings));
        assertEquals("RegValue string array is null", npe.getMessage());
        RegValue noName = value(null, 4);
        npe = assertThrows(NullPointerException.class, () -> RegistryApi.RegSetValueExW(key, noName));
        assertEquals("", npe.getMessage());

        // Values without data read back with their type, name and empty content.
        RegValue emptyBinary = value("EmptyBinary", 3);
        emptyBinary.byteArray = new byte[0];
        RegistryApi.RegSetValueExW(key, emptyBinary);
        RegValue back = get(key, "EmptyBinary");
        assertEquals(3, back.type);
        assertEquals("EmptyBinary", back.name);
        assertEquals(0, back.byteArray.length);
        RegValue emptyList = value("EmptyList", 7);
        emptyList.stringArray = new String[0];
        RegistryApi.RegSetValueExW(key, emptyList);
        assertArrayEquals(new String[] {null}, get(key, "EmptyList").stringArray);
        // A null element is written as an empty string, which ends the list for readers.
        RegValue holes = value("Holes", 7);
        holes.stringArray = new String[] {"x", null, "y"};
        RegistryApi.RegSetValueExW(key, holes);
        assertArrayEquals(new String[] {"x"}, get(key, "Holes").stringArray);

        Exception missing = assertThrows(Exception.class, () -> get(key, "Missing"));
        assertEquals("The system cannot find the file specified.", missing.getMessage());
        assertThrows(NullPointerException.class, () -> RegistryApi.RegGetValue(key, "Missing", null));
        assertThrows(NullPointerException.class, () -> RegistryApi.RegOpenKeyEx(HKLM, null, 0, KEY_ALL_ACCESS));
        Exception noKey = assertThrows(Exception.class, () -> RegistryApi.RegOpenKeyEx(HKLM, name + "\\None", 0, 1));
        assertEquals("The system cannot find the file specified.", noKey.getMessage());
        long opened = RegistryApi.RegOpenKeyEx(HKLM, name, 0, KEY_ALL_ACCESS);
        assertNotEquals(0L, opened);
        RegistryApi.RegFlushKey(opened);
        RegistryApi.RegCloseKey(opened);
        Exception closed = assertThrows(Exception.class, () -> RegistryApi.RegCloseKey(opened));
        assertEquals("The handle is invalid.", closed.getMessage());
    }

    @Test
    void hivesLoadUnloadAndReplace() throws Exception {
        Path folder = Folders.fresh("hive");
        Path file = folder.resolve("settings.hiv");
        Files.write(file, new byte[0]);
        String hive = "OmHive" + (++counter);
        BackupApi.setPrivilege("SeBackupPrivilege", false);
        Exception denied = assertThrows(Exception.class, () -> RegistryApi.RegLoadKey(HKU, hive, Folders.windows(file)));
        assertEquals("A required privilege is not held by the client.", denied.getMessage());
        BackupApi.setPrivilege("SeBackupPrivilege", true);
        BackupApi.setPrivilege("SeRestorePrivilege", true);
        try {
            RegistryApi.RegLoadKey(HKU, hive, Folders.windows(file));
            RegKey sub = RegistryApi.RegCreateKeyEx(HKU, hive + "\\Inner", 0, KEY_ALL_ACCESS);
            RegValue v = value("Kept", 1);
            v.stringValue = "in the hive";
            RegistryApi.RegSetValueExW(sub.ptr, v);
            RegistryApi.RegFlushKey(sub.ptr);
            assertTrue(Files.size(file) > 0);
            RegistryApi.RegCloseKey(sub.ptr);
            RegistryApi.RegUnLoadKey(HKU, hive);
            assertThrows(Exception.class, () -> RegistryApi.RegOpenKeyEx(HKU, hive, 0, KEY_ALL_ACCESS));

            RegistryApi.RegLoadKey(HKU, hive, Folders.windows(file));
            long inner = RegistryApi.RegOpenKeyEx(HKU, hive + "\\Inner", 0, KEY_ALL_ACCESS);
            assertEquals("in the hive", get(inner, "Kept").stringValue);

            // Replacing with a null sub-key replaces the hive of the key itself.
            Path other = folder.resolve("other.hiv");
            Path old = folder.resolve("old.hiv");
            Files.write(other, new byte[0]);
            long root = RegistryApi.RegOpenKeyEx(HKU, hive, 0, KEY_ALL_ACCESS);
            Exception notRoot = assertThrows(Exception.class,
                    () -> RegistryApi.RegReplaceKey(inner, null, Folders.windows(other), Folders.windows(old)));
            assertEquals("The parameter is incorrect.", notRoot.getMessage());
            RegistryApi.RegReplaceKey(root, null, Folders.windows(other), Folders.windows(old));
            assertTrue(Files.exists(old));
            assertEquals(0, Files.size(file));  // the new hive took the file's place
            RegistryApi.RegCloseKey(inner);
            RegistryApi.RegCloseKey(root);
            RegistryApi.RegUnLoadKey(HKU, hive);
            RegistryApi.RegLoadKey(HKU, hive, Folders.windows(old));
            long restored = RegistryApi.RegOpenKeyEx(HKU, hive + "\\Inner", 0, KEY_ALL_ACCESS);
            assertEquals("in the hive", get(restored, "Kept").stringValue);
            RegistryApi.RegCloseKey(restored);
            RegistryApi.RegUnLoadKey(HKU, hive);

            Path broken = folder.resolve("broken.hiv");
            Files.write(broken, new byte[] {1, 2, 3});
            Exception corrupt = assertThrows(Exception.class, () -> RegistryApi.RegLoadKey(HKU, hive, Folders.windows(broken)));
            assertEquals("The configuration registry database is corrupt.", corrupt.getMessage());
            Exception notHive = assertThrows(Exception.class, () -> RegistryApi.RegUnLoadKey(HKLM, "SOFTWARE"));
            assertEquals("The parameter is incorrect.", notHive.getMessage());
        } finally {
            BackupApi.setPrivilege("SeBackupPrivilege", false);
            BackupApi.setPrivilege("SeRestorePrivilege", false);
        }
    }

    @Test
    void keySecurityIsCopied() throws Exception {
        long target = RegistryApi.RegCreateKeyEx(HKLM, name + "\\Target", 0, KEY_ALL_ACCESS).ptr;
        BackupApi.setPrivilege("SeSecurityPrivilege", false);
        Exception denied = assertThrows(Exception.class, () -> RegistryApi.RegCopyKeySecurity(key, target));
        assertEquals("A required privilege is not held by the client.", denied.getMessage());
        BackupApi.setPrivilege("SeSecurityPrivilege", true);
        try {
            RegistryApi.RegCopyKeySecurity(key, target);
            RegistryApi.RegCopyKeySecurity(target, key);
        } finally {
            BackupApi.setPrivilege("SeSecurityPrivilege", false);
        }
        RegistryApi.RegCloseKey(target);
        RegistryApi.RegDeleteKey(key, "Target");
    }
}
