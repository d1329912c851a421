package com.ombrel.systembridge;

import static com.ombrel.systembridge.RegistryApiTest.get;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;

import com.ombrel.agentframework.os.win32.BackupApi;
import com.ombrel.agentframework.os.win32.RegValue;
import com.ombrel.agentframework.os.win32.RegistryApi;
import com.ombrel.testing.Folders;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.Random;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Values whose data does not follow the rules of their type (odd lengths, missing
 * terminators, short numbers), as another program may have stored them. They reach
 * the natives through a hive file in the stand-in's format.
 */
class RegistryRawDataTest {
    static final long HKU = 0x80000003L;
    static int counter;

    @BeforeAll
    static void privileges() {
        RegistryApi.init();
        BackupApi.setPrivilege("SeBackupPrivilege", true);
        BackupApi.setPrivilege("SeRestorePrivilege", true);
    }

    @AfterAll
    static void dropPrivileges() {
        BackupApi.setPrivilege("SeBackupPrivilege", false);
        BackupApi.setPrivilege("SeRestorePrivilege", false);
    }

    /** A hive file holding the values at its root: name, type and raw data. */
    static final class Hive {
        final ByteArrayOutputStream out = new ByteArrayOutputStream();

        Hive() {
            out.writeBytes("OMHIVE1\n".getBytes(StandardCharsets.US_ASCII));
        }

        Hive value(String name, int type, byte[] data) {
            StringBuilder file = new StringBuilder("v.");
            for (byte b : name.toLowerCase(Locale.ROOT).getBytes(StandardCharsets.UTF_8)) {
                file.append(String.format("%02x", b & 0xFF));
            }
            byte[] path = file.toString().getBytes(StandardCharsets.US_ASCII);
            byte[] nameBytes = name.getBytes(StandardCharsets.UTF_8);
            ByteBuffer content = ByteBuffer.allocate(8 + nameBytes.length + data.length).order(ByteOrder.LITTLE_ENDIAN);
            content.putInt(type).putInt(nameBytes.length).put(nameBytes).put(data);
            out.write('F');
            out.writeBytes(u32(path.length));
            out.writeBytes(path);
            out.writeBytes(u32(content.capacity()));
            out.writeBytes(content.array());
            return this;
        }

        static byte[] u32(int value) {
            return ByteBuffer.allocate(4).order(ByteOrder.LITTLE_ENDIAN).putInt(value).array();
        }

        /** Loads the hive under HKEY_USERS and returns its key name. */
        String load() throws Exception {
            Path file = Folders.fresh("raw").resolve("values.hiv");
            Files.write(file, out.toByteArray());
            String name = "OmRaw" + (++counter);
            RegistryApi.RegLoadKey(HKU, name, Folders.windows(file));
            return name;
        }
    }

    static byte[] utf16(String text) {
        return text.getBytes(StandardCharsets.UTF_16LE);
    }

    @Test
    void dataThatBreaksTheRulesOfItsType() throws Exception {
        byte[] oddText = {'a', 0, 'b', 0, 'c'};
        byte[] longList = new byte[2 * 70_000 + 4];
        for (int i = 0; i < 70_000; i++) {
            longList[2 * i] = 'x';
        }
        String hive = new Hive()
                .value("Odd", 1, oddText)
                .value("NoTerm", 2, utf16("xyz"))
                .value("List", 7, utf16("a\0b"))
                .value("ListOdd", 7, new byte[] {'a', 0, 'b'})
                .value("ShortDword", 4, new byte[] {0x34, 0x12})
                .value("EmptyDword", 4, new byte[0])
                .value("Qword", 11, new byte[] {7, 1, 2, 3, 4, 5, 6, 8})
                .value("LongList", 7, longList)
                .load();
        long key = RegistryApi.RegOpenKeyEx(HKU, hive, 0, 0xF003F);
        try {
            assertEquals("abc", get(key, "Odd").stringValue);
            assertEquals("xyz", get(key, "NoTerm").stringValue);
            assertArrayEquals(new String[] {"a", "b"}, get(key, "List").stringArray);
            assertArrayEquals(new String[] {"ab"}, get(key, "ListOdd").stringArray);
            assertEquals(0x1234, get(key, "ShortDword").dwordVal);
            assertEquals(0, get(key, "EmptyDword").dwordVal);
            RegValue qword = get(key, "Qword");
            assertEquals(11, qword.type);
            assertEquals(7, qword.dwordVal);
            Exception tooLong = assertThrows(Exception.class, () -> get(key, "LongList"));
            assertEquals("illegal cstring size returned", tooLong.getMessage());
            // Enumeration reads the same data the same way.
            List<String> names = new ArrayList<>();
            RegValue out = new RegValue();
            for (int index = 0; index < 9; index++) {
                try {
                    if (!RegistryApi.RegEnumValueW(key, index, out)) {
                        break;
                    }
                    names.add(out.name);
                } catch (Exception e) {
                    names.add(e.getMessage());
                }
            }
            assertEquals(List.of("EmptyDword", "List", "ListOdd", "illegal cstring size returned", "NoTerm", "Odd",
                    "Qword", "ShortDword"), names);
        } finally {
            RegistryApi.RegCloseKey(key);
            RegistryApi.RegUnLoadKey(HKU, hive);
        }
    }

    /** The strings of multi-string data by the documented rule, zeros assumed past its end; null when too long. */
    static String[] expectedStrings(byte[] data) {
        if (data.length == 0) {
            return new String[0];
        }
        int chars = (data.length + 1) / 2;
        char[] text = new char[chars + 2];
        for (int i = 0; i < chars; i++) {
            int low = data[2 * i] & 0xFF;
            int high = 2 * i + 1 < data.length ? data[2 * i + 1] & 0xFF : 0;
            text[i] = (char) (low | high << 8);
        }
        int count = 0;
        int end = -1;
        for (int i = 0; i < 65_000; i++) {
            if (text[Math.min(i, text.length - 1)] != 0) {
                continue;
            }
            count++;
            if (text[Math.min(i + 1, text.length - 1)] == 0) {
                end = i;
                break;
            }
        }
        if (end < 0) {
            return null;
        }
        String[] out = new String[count];
        int position = 0;
        for (int index = 0; index < count; index++) {
            if (text[position] == 0 && text[position + 1] == 0) {
                break;
            }
            int length = 0;
            while (text[position + length] != 0) {
                length++;
            }
            out[index] = new String(text, position, length);
            position += length + 1;
        }
        return out;
    }

    @Test
    void randomMultiStringDataReadsByTheRule() throws Exception {
        Random random = new Random(20261209);
        Hive hive = new Hive();
        List<byte[]> data = new ArrayList<>();
        for (int n = 0; n < 300; n++) {
            byte[] bytes = new byte[random.nextInt(40)];
            for (int i = 0; i < bytes.length; i++) {
                int pick = random.nextInt(4);
                bytes[i] = (byte) (pick == 0 ? 0 : pick == 1 ? 'a' : pick == 2 ? 'b' : random.nextInt(256));
            }
            data.add(bytes);
            hive.value("M" + n, 7, bytes);
        }
        String name = hive.load();
        long key = RegistryApi.RegOpenKeyEx(HKU, name, 0, 0xF003F);
        try {
            for (int n = 0; n < data.size(); n++) {
                String[] expected = expectedStrings(data.get(n));
                RegValue value = get(key, "M" + n);
                assertArrayEquals(expected, value.stringArray, "value M" + n);
            }
        } finally {
            RegistryApi.RegCloseKey(key);
            RegistryApi.RegUnLoadKey(HKU, name);
        }
    }

    @Test
    void randomHiveFilesLoadOrAreRefused() throws IOException {
        Random random = new Random(7);
        byte[] valid = new Hive().value("A", 1, utf16("text\0")).value("B", 4, new byte[] {1, 0, 0, 0}).out.toByteArray();
        for (int round = 0; round < 200; round++) {
            byte[] mutated = valid.clone();
            int flips = 1 + random.nextInt(4);
            for (int i = 0; i < flips; i++) {
                mutated[random.nextInt(mutated.length)] = (byte) random.nextInt(256);
            }
            if (random.nextBoolean()) {
                mutated = java.util.Arrays.copyOf(mutated, random.nextInt(mutated.length + 1));
            }
            Path file = Folders.fresh("fuzz").resolve("h.hiv");
            Files.write(file, mutated);
            String name = "OmFuzz" + (++counter);
            try {
                RegistryApi.RegLoadKey(HKU, name, Folders.windows(file));
            } catch (Exception refused) {
                assertEquals("The configuration registry database is corrupt.", refused.getMessage());
                continue;
            }
            try {
                RegistryApi.RegUnLoadKey(HKU, name);
            } catch (Exception e) {
                throw new AssertionError(e);
            }
        }
        // Nothing a hive file names lands outside the registry.
        try (var files = Files.walk(Path.of(System.getenv("OM_STANDIN_ROOT")), 1)) {
            files.forEach(p -> {
                String leaf = p.getFileName().toString();
                assertEquals(false, leaf.startsWith("k.") || leaf.startsWith("v."), p.toString());
            });
        }
    }
}
