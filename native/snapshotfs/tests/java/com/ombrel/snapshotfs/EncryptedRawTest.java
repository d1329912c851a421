package com.ombrel.snapshotfs;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import com.ombrel.disk.win32.Win32Kernel;
import com.ombrel.testing.Folders;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.concurrent.atomic.AtomicInteger;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

class EncryptedRawTest {
    static final String SIGNATURE = "(Ljava/nio/ByteBuffer;)I";

    /** Receives the raw blocks; the block size is 4096 (OM_STANDIN_EFS_BLOCK). */
    static class Receiver {
        final ByteArrayOutputStream received = new ByteArrayOutputStream();
        int blocks;
        int stopAt;
        int stopWith;
        boolean throwing;

        public int block(ByteBuffer block) {
            blocks++;
            if (throwing && blocks == 2) {
                throw new IllegalStateException("receiver failed");
            }
            byte[] copy = new byte[block.remaining()];
            block.get(copy);
            received.writeBytes(copy);
            return blocks == stopAt ? stopWith : 0;
        }
    }

    Path file;
    byte[] content;
    long support;

    @BeforeEach
    void setUp() throws IOException {
        file = Folders.fresh("raw").resolve("secret.bin");
        content = new byte[3 * 4096 + 100];
        for (int i = 0; i < content.length; i++) {
            content[i] = (byte) (i ^ (i >> 8));
        }
        Files.write(file, content);
        long[] handle = {0};
        assertEquals(0, Win32Kernel.InitializeEncryptedFileSupport(Receiver.class, "block", SIGNATURE, handle));
        assertNotEquals(0L, handle[0]);
        support = handle[0];
    }

    @AfterEach
    void tearDown() {
        Win32Kernel.ShutdownEncryptedFileSupport(support);
    }

    int export(Receiver receiver) {
        long[] context = {0};
        assertEquals(0, Win32Kernel.OpenEncryptedFileRaw(Folders.windows(file), 0, support, receiver, context));
        int status = Win32Kernel.ReadEncryptedFileRaw(context[0]);
        Win32Kernel.CloseEncryptedFileRaw(context[0]);
        return status;
    }

    @Test
    void exportDeliversEveryBlock() {
        Receiver receiver = new Receiver();
        assertEquals(0, export(receiver));
        assertEquals(4, receiver.blocks);
        assertArrayEquals(content, receiver.received.toByteArray());
    }

    @Test
    void nonZeroFromTheCallbackEndsTheRead() {
        Receiver receiver = new Receiver();
        receiver.stopAt = 2;
        receiver.stopWith = 5;
        assertEquals(5, export(receiver));
        assertEquals(2, receiver.blocks);
    }

    @Test
    void throwingCallbackEndsTheReadWithoutLeakingTheException() {
        Receiver receiver = new Receiver();
        receiver.throwing = true;
        assertNotEquals(0, export(receiver));
        assertEquals(2, receiver.blocks);
        // Later calls see no pending exception.
        Receiver next = new Receiver();
        assertEquals(0, export(next));
        assertArrayEquals(content, next.received.toByteArray());
    }

    @Test
    void readOnAnotherThreadUsesThatThread() throws Exception {
        long[] context = {0};
        Receiver receiver = new Receiver();
        assertEquals(0, Win32Kernel.OpenEncryptedFileRaw(Folders.windows(file), 0, support, receiver, context));
        AtomicInteger status = new AtomicInteger(-1);
        Thread reader = new Thread(() -> status.set(Win32Kernel.ReadEncryptedFileRaw(context[0])));
        reader.start();
        reader.join();
        Win32Kernel.CloseEncryptedFileRaw(context[0]);
        assertEquals(0, status.get());
        assertArrayEquals(content, receiver.received.toByteArray());
    }

    @Test
    void failuresCreateNoRecord() {
        long[] context = {77};
        assertEquals(2, Win32Kernel.OpenEncryptedFileRaw(Folders.windows(file) + ".missing", 0, support,
                new Receiver(), context));
        assertEquals(77L, context[0]);
        assertEquals(87, Win32Kernel.OpenEncryptedFileRaw(Folders.windows(file), 0, support, new Receiver(),
                new long[2]));
        // The support's method belongs to Receiver: an object of another class is refused.
        assertEquals(87, Win32Kernel.OpenEncryptedFileRaw(Folders.windows(file), 0, support, "not a receiver",
                context));
        assertEquals(77L, context[0]);
        long[] handle = {0};
        assertEquals(87, Win32Kernel.InitializeEncryptedFileSupport(Receiver.class, "missing", SIGNATURE, handle));
        assertEquals(0L, handle[0]);
        assertEquals(87, Win32Kernel.InitializeEncryptedFileSupport(Receiver.class, "block", SIGNATURE, new long[0]));
    }
}
