package com.ombrel.testing;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.UserDefinedFileAttributeView;

/** Test folders on the host, their Windows names as the stand-in maps them, and the bytes natives fill. */
public final class Folders {
    private Folders() {
    }

    public static Path fresh(String name) throws IOException {
        String root = System.getenv("OM_STANDIN_ROOT");
        Path base = root != null ? Path.of(root) : Path.of(System.getProperty("java.io.tmpdir"));
        return Files.createTempDirectory(base, name);
    }

    /** "C:\dir\file" for the host path /dir/file (drive C: is the host root). */
    public static String windows(Path path) {
        return "C:" + path.toAbsolutePath().toString().replace('/', '\\');
    }

    public static ByteBuffer little(byte[] bytes) {
        return ByteBuffer.wrap(bytes).order(ByteOrder.LITTLE_ENDIAN);
    }

    /** A zero-terminated UTF-16LE text starting at `offset`. */
    public static String wide(byte[] bytes, int offset, int maxChars) {
        int end = offset;
        while (end + 1 < bytes.length && end < offset + 2 * maxChars && (bytes[end] != 0 || bytes[end + 1] != 0)) {
            end += 2;
        }
        return new String(bytes, offset, end - offset, StandardCharsets.UTF_16LE);
    }

    public static String wide(byte[] bytes, int offset, int byteLength, boolean counted) {
        return new String(bytes, offset, byteLength, StandardCharsets.UTF_16LE);
    }

    public static void setStream(Path file, String name, byte[] content) throws IOException {
        Files.getFileAttributeView(file, UserDefinedFileAttributeView.class).write(name, ByteBuffer.wrap(content));
    }

    public static byte[] stream(Path file, String name) throws IOException {
        UserDefinedFileAttributeView view = Files.getFileAttributeView(file, UserDefinedFileAttributeView.class);
        ByteBuffer buffer = ByteBuffer.allocate(view.size(name));
        view.read(name, buffer);
        return buffer.array();
    }
}
