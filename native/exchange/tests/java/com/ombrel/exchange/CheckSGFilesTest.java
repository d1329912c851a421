package com.ombrel.exchange;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import com.halvane.exchange.check.CheckSGFiles;
import java.io.IOException;
import java.util.List;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class CheckSGFilesTest {
    static final int OUT_OF_MEMORY = -1011;

    final StandInChecker standIn = new StandInChecker();
    long checker;

    @BeforeEach
    void create() throws IOException {
        standIn.reset();
        checker = CheckSGFiles.New();
        assertNotEquals(0L, checker);
    }

    @AfterEach
    void delete() throws IOException {
        CheckSGFiles.Delete(checker);
        assertEquals(0, standIn.count("live"));
        assertEquals(0, standIn.count("copies"));
    }

    String self() {
        return Long.toString(checker);
    }

    @Test
    void aCheckRunsInTheOrderTheAgentUsesAndEveryObjectIsFreed() throws IOException {
        assertEquals(1, standIn.count("live"));
        long second = CheckSGFiles.New();
        assertEquals(2, standIn.count("live"));
        assertEquals(5, CheckSGFiles.CMaxDbPerSG());
        standIn.script("CMaxDbPerSG=100", "ErrInit=0", "ErrCheckDbHeaders=0 1 2 3", "ErrTerm=0");
        assertEquals(100, CheckSGFiles.CMaxDbPerSG());
        assertEquals(0, CheckSGFiles.ErrInit(second, "D:\\SG1\\priv1.edb", "E00", "L:\\SG1", 1));
        int[] a = {0};
        int[] b = {0};
        int[] c = {0};
        assertEquals(0, CheckSGFiles.ErrCheckDbHeaders(second, a, b, c, 0));
        assertEquals(0, CheckSGFiles.ErrTerm(second, 0));
        CheckSGFiles.Delete(second);
        String s = Long.toString(second);
        List<List<String>> calls = standIn.calls();
        assertEquals(List.of(
                List.of("New", self()),
                List.of("New", s),
                List.of("CMaxDbPerSG"),
                List.of("CMaxDbPerSG"),
                List.of("ErrInit", s, "1", "D:\\SG1\\priv1.edb", "E00", "L:\\SG1", "1"),
                List.of("ErrCheckDbHeaders", s, "0"),
                List.of("ErrTerm", s, "0"),
                List.of("Delete", s),
                List.of("~CCheckSGFiles", s)), calls.subList(calls.size() - 9, calls.size()));
        assertEquals(1, standIn.count("live"));
    }

    @Test
    void errInitPassesCopiesOfThePathsAndTheCheckersCode() throws IOException {
        standIn.script("ErrInit=-1032");
        String database = "D:\\Exchange\\Mailbox D\u00e4tabase \u20ac\ud83d\ude00.edb";
        assertEquals(-1032, CheckSGFiles.ErrInit(checker, database, "E01", "", -2));
        assertEquals(List.of("ErrInit", self(), "1", database, "E01", "", "4294967294"), standIn.lastCall());
        assertEquals(0, standIn.count("copies"));
    }

    @Test
    void errInitWithAPathHoldingZeroCallsNothing() throws IOException {
        standIn.script("ErrInit=0");
        int before = standIn.calls().size();
        // The checker would stop at the zero and open another file.
        assertEquals(-1023, CheckSGFiles.ErrInit(checker, "D:\\SG1\\priv1.edb", "E00\0x", "L:\\SG1", 0));
        assertEquals(before, standIn.calls().size());
        assertEquals(0, standIn.count("copies"));
    }

    @Test
    void errInitWithAStringThatCannotBeCopiedCallsNothing() throws IOException {
        standIn.script("ErrInit=0");
        int before = standIn.calls().size();
        // The second copy's memory is refused: (3 + 1) UTF-16 units. The first
        // copy is freed, no exception reaches Java.
        standIn.script("ErrInit=0", "RefuseAllocation=8");
        assertEquals(OUT_OF_MEMORY, CheckSGFiles.ErrInit(checker, "D:\\SG1\\priv1.edb", "E00", "L:\\SG1", 0));
        assertEquals(List.of("refused-allocation", "8"), standIn.lastCall());
        assertEquals(0, standIn.count("copies"));
        // The third: the first two are freed.
        standIn.script("ErrInit=0", "RefuseAllocation=14");
        assertEquals(OUT_OF_MEMORY, CheckSGFiles.ErrInit(checker, "D:\\SG1\\priv1.edb", "E00", "L:\\SG1", 0));
        assertEquals(0, standIn.count("copies"));
        // A missing string cannot be copied either.
        standIn.script("ErrInit=0");
        assertEquals(OUT_OF_MEMORY, CheckSGFiles.ErrInit(checker, "D:\\SG1\\priv1.edb", null, "L:\\SG1", 0));
        assertEquals(OUT_OF_MEMORY, CheckSGFiles.ErrInit(checker, null, "E00", "L:\\SG1", 0));
        assertEquals(0, standIn.count("copies"));
        List<List<String>> calls = standIn.calls();
        assertEquals(List.of(List.of("refused-allocation", "8"), List.of("refused-allocation", "14")),
                calls.subList(before, calls.size()));
    }

    @Test
    void errCheckDbHeadersWritesTheThreeValuesWhateverTheCode() throws IOException {
        standIn.script("ErrCheckDbHeaders=-550 7 0xFFFFFFFF 0x80000000");
        int[] a = {11};
        int[] b = {12};
        int[] c = {13, 14};
        assertEquals(-550, CheckSGFiles.ErrCheckDbHeaders(checker, a, b, c, -3));
        assertArrayEquals(new int[] {7}, a);
        assertArrayEquals(new int[] {-1}, b);
        assertArrayEquals(new int[] {Integer.MIN_VALUE, 14}, c);
        assertEquals(List.of("ErrCheckDbHeaders", self(), "-3"), standIn.lastCall());
        // Missing or empty out-arrays take nothing and throw nothing.
        assertEquals(-550, CheckSGFiles.ErrCheckDbHeaders(checker, null, new int[0], a, 0));
    }

    @Test
    void errCheckDbPagesPassesTheBlockAndSplitsTheFlagWord() throws IOException {
        Object[][] cases = {{"2", false, true}, {"1", true, false}, {"3", true, true}, {"0xFFFFFFFC", false, false}};
        for (Object[] c : cases) {
            standIn.script("ErrCheckDbPages=-1018 " + c[0]
                    + " 1 0x7FFFFFFFFFFFFFFF 0xFFFFFFFFFFFFFFFF 0x100000000 -2");
            boolean[] flag0 = {!(Boolean) c[1]};
            boolean[] flag1 = {!(Boolean) c[2]};
            long[][] outs = {{9}, {9}, {9}, {9}, {9}};
            assertEquals(-1018, CheckSGFiles.ErrCheckDbPages(checker, 0x123456789ABL, -5, 4096, flag0, flag1,
                    outs[0], outs[1], outs[2], outs[3], outs[4], 17));
            assertEquals(c[1], flag0[0], "flag0 for " + c[0]);
            assertEquals(c[2], flag1[0], "flag1 for " + c[0]);
            assertArrayEquals(new long[][] {{1}, {Long.MAX_VALUE}, {-1}, {0x100000000L}, {-2}}, outs);
            // Null first, the two values, the block (input set, flag word clear), one block, the last value.
            assertEquals(List.of("ErrCheckDbPages", self(), "0", "1250999896491", "-5", "4096", "0", "1", "17"),
                    standIn.lastCall());
        }
        assertEquals(-1018, CheckSGFiles.ErrCheckDbPages(checker, 0, 0, 0, null, new boolean[0], null, null,
                new long[0], null, null, 0));
    }

    @Test
    void errCheckLogsGivesTheLowByteOfTheWord() throws IOException {
        String[][] cases = {{"1", "true"}, {"0", "false"}, {"0x80", "true"}, {"0x100", "false"}};
        for (String[] c : cases) {
            standIn.script("ErrCheckLogs=-501 " + c[0]);
            boolean[] out = {!Boolean.parseBoolean(c[1])};
            assertEquals(-501, CheckSGFiles.ErrCheckLogs(checker, out, 9));
            assertEquals(Boolean.parseBoolean(c[1]), out[0], c[0]);
        }
        assertEquals(List.of("ErrCheckLogs", self(), "9"), standIn.lastCall());
        assertEquals(-501, CheckSGFiles.ErrCheckLogs(checker, null, 9));
    }

    @Test
    void aCheckerOfZeroIsNeverCalled() throws IOException {
        // What New gives when it cannot make a checker, passed on by a careless caller.
        int before = standIn.calls().size();
        int[] a = {7};
        boolean[] flag = {true};
        long[] value = {9};
        assertEquals(OUT_OF_MEMORY, CheckSGFiles.ErrInit(0, "D:\\SG1\\priv1.edb", "E00", "L:\\SG1", 0));
        assertEquals(OUT_OF_MEMORY, CheckSGFiles.ErrCheckDbHeaders(0, a, a, a, 0));
        assertEquals(OUT_OF_MEMORY, CheckSGFiles.ErrCheckDbPages(0, 0, 0, 0, flag, flag, value, value, value, value,
                value, 0));
        assertEquals(OUT_OF_MEMORY, CheckSGFiles.ErrCheckLogs(0, flag, 0));
        assertEquals(OUT_OF_MEMORY, CheckSGFiles.ErrTerm(0, 0));
        assertEquals(0, CheckSGFiles.PgnoFromFileOffset(0, 8192));
        assertEquals(before, standIn.calls().size());
        assertArrayEquals(new int[] {7}, a);
        assertArrayEquals(new boolean[] {true}, flag);
        assertArrayEquals(new long[] {9}, value);
        assertEquals(0, standIn.count("copies"));
    }

    @Test
    void errTermAndPageNumbersPassThrough() throws IOException {
        standIn.script("ErrTerm=-1090");
        assertEquals(-1090, CheckSGFiles.ErrTerm(checker, 0x40));
        assertEquals(List.of("ErrTerm", self(), "64"), standIn.lastCall());
        assertEquals(0x50000000L / 8192, CheckSGFiles.PgnoFromFileOffset(checker, 0x50000000L));
        standIn.script("PgnoFromFileOffset=0x1234567890");
        assertEquals(0x1234567890L, CheckSGFiles.PgnoFromFileOffset(checker, 0x7000000000001L));
        assertEquals(List.of("PgnoFromFileOffset", self(), "1970324836974593"), standIn.lastCall());
    }
}
