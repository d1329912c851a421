package com.ombrel.snapshotfs;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import com.halvane.common.win32.VirtualBuffer;
import com.ombrel.host.win32.Win32CpuId;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import org.junit.jupiter.api.Test;

class VirtualBufferCpuIdTest {
    static final int MEM_COMMIT = 0x1000;
    static final int MEM_RESERVE = 0x2000;
    static final int MEM_COMMIT_RESERVE = 0x3000;
    static final int MEM_DECOMMIT = 0x4000;
    static final int MEM_RELEASE = 0x8000;
    static final int PAGE_NOACCESS = 1;
    static final int PAGE_READONLY = 2;
    static final int PAGE_READWRITE = 4;

    @Test
    void allocationIsPageAlignedAndCopiesBothWays() {
        long[] address = {0};
        assertEquals(0, VirtualBuffer.VirtualAlloc(address, 10_000, MEM_COMMIT_RESERVE, PAGE_READWRITE));
        assertNotEquals(0L, address[0]);
        assertEquals(0L, address[0] % 4096);
        byte[] source = new byte[10_000];
        Arrays.fill(source, (byte) 0x5A);
        assertEquals(0, VirtualBuffer.memcpy_s(address[0], 10_000, source));
        byte[] back = new byte[10_000];
        assertEquals(0, VirtualBuffer.memcpy_s(back, address[0], 10_000));
        assertArrayEquals(source, back);

        // Ten bytes into a block of eight: the eight are zeroed, ERANGE.
        assertEquals(34, VirtualBuffer.memcpy_s(address[0], 8, new byte[] {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        byte[] eight = new byte[12];
        assertEquals(0, VirtualBuffer.memcpy_s(eight, address[0], 12));
        assertArrayEquals(new byte[] {0, 0, 0, 0, 0, 0, 0, 0, 0x5A, 0x5A, 0x5A, 0x5A}, eight);
        // More than the array holds: the array is zeroed, ERANGE, nothing beyond it is touched.
        byte[] small = {9, 9, 9, 9};
        assertEquals(34, VirtualBuffer.memcpy_s(small, address[0] + 100, 10));
        assertArrayEquals(new byte[4], small);
        small = new byte[] {9, 9, 9, 9};
        assertEquals(34, VirtualBuffer.memcpy_s(small, address[0] + 100, -1));
        assertArrayEquals(new byte[4], small);
        // Missing destination or source: EINVAL, a missing source zeroes the destination.
        assertEquals(22, VirtualBuffer.memcpy_s(0L, 8, new byte[] {1}));
        small = new byte[] {9, 9, 9, 9};
        assertEquals(22, VirtualBuffer.memcpy_s(small, 0L, 4));
        assertArrayEquals(new byte[4], small);
        // A count of zero copies nothing.
        small = new byte[] {9};
        assertEquals(0, VirtualBuffer.memcpy_s(small, 0L, 0));
        assertArrayEquals(new byte[] {9}, small);
        assertEquals(0, VirtualBuffer.memcpy_s(0L, 0, new byte[0]));

        assertEquals(87, VirtualBuffer.VirtualFree(address[0], 10_000, MEM_RELEASE));
        assertEquals(0, VirtualBuffer.VirtualFree(address[0], 0, MEM_RELEASE));
    }

    @Test
    void addressesOutsideCommittedMemoryAreRefusedUntouched() {
        // Address 16: nothing is there. The copy into it is refused; the copy from
        // it zero-fills the array, as a missing source does.
        assertEquals(22, VirtualBuffer.memcpy_s(16L, 4, new byte[] {1, 2, 3, 4}));
        byte[] four = {9, 9, 9, 9};
        assertEquals(22, VirtualBuffer.memcpy_s(four, 16L, 4));
        assertArrayEquals(new byte[4], four);

        // Two pages reserved, the first committed: a range running into the second is refused.
        long[] address = {0};
        assertEquals(0, VirtualBuffer.VirtualAlloc(address, 8192, MEM_RESERVE, PAGE_NOACCESS));
        long block = address[0];
        assertEquals(0, VirtualBuffer.VirtualAlloc(address, 4096, MEM_COMMIT, PAGE_READWRITE));
        assertEquals(0, VirtualBuffer.memcpy_s(block + 4000, 96, new byte[96]));
        assertEquals(22, VirtualBuffer.memcpy_s(block + 4000, 200, new byte[200]));
        byte[] spanning = new byte[200];
        spanning[0] = 9;
        assertEquals(22, VirtualBuffer.memcpy_s(spanning, block + 4000, 200));
        assertArrayEquals(new byte[200], spanning);
        // A read-only page can be read but not written.
        assertEquals(0, VirtualBuffer.VirtualAlloc(address, 4096, MEM_COMMIT, PAGE_READONLY));
        assertEquals(0, VirtualBuffer.memcpy_s(new byte[16], block, 16));
        assertEquals(22, VirtualBuffer.memcpy_s(block, 16, new byte[16]));

        // Freed again: both directions are refused.
        assertEquals(0, VirtualBuffer.VirtualFree(block, 4096, MEM_DECOMMIT));
        assertEquals(22, VirtualBuffer.memcpy_s(block, 16, new byte[16]));
        assertEquals(22, VirtualBuffer.memcpy_s(new byte[16], block, 16));
        assertEquals(0, VirtualBuffer.VirtualFree(block, 0, MEM_RELEASE));
    }

    @Test
    void allocationRules() {
        long[] two = {0, 0};
        assertEquals(87, VirtualBuffer.VirtualAlloc(two, 4096, MEM_COMMIT_RESERVE, PAGE_READWRITE));
        long[] address = {0};
        assertEquals(87, VirtualBuffer.VirtualAlloc(address, 4096, MEM_COMMIT_RESERVE, 0x12345));
        assertEquals(0L, address[0]);
    }

    @Test
    void cpuidLeafZeroNamesTheVendor() throws IOException {
        int[] registers = new int[4];
        assertEquals(0, Win32CpuId.cpuid(registers, 0));
        assertNotEquals(0, registers[0]);
        ByteBuffer text = ByteBuffer.allocate(12).order(ByteOrder.LITTLE_ENDIAN);
        text.putInt(registers[1]).putInt(registers[3]).putInt(registers[2]);
        String vendor = new String(text.array(), StandardCharsets.US_ASCII);
        String expected = Files.readAllLines(Path.of("/proc/cpuinfo")).stream()
                .filter(l -> l.startsWith("vendor_id")).findFirst().orElseThrow()
                .replaceFirst("vendor_id\\s*:\\s*", "").trim();
        assertEquals(expected, vendor);
    }

    @Test
    void cpuidNeedsFourElements() {
        int[] three = {7, 7, 7};
        assertEquals(87, Win32CpuId.cpuid(three, 0));
        assertArrayEquals(new int[] {7, 7, 7}, three);
    }
}
