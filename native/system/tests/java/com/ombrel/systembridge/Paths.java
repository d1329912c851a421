package com.ombrel.systembridge;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;

/** Test folders on the host and their Windows names as the stand-in maps them. */
final class Paths {
    private Paths() {
    }

    static Path fresh(String name) throws IOException {
        String root = System.getenv("OM_STANDIN_ROOT");
        Path base = root != null ? Path.of(root) : Path.of(System.getProperty("java.io.tmpdir"));
        return Files.createTempDirectory(base, name);
    }

    /** "C:\dir\file" for the host path /dir/file (drive C: is the host root). */
    static String windows(Path path) {
        return "C:" + path.toAbsolutePath().toString().replace('/', '\\');
    }

    static ByteBuffer little(byte[] bytes) {
        return ByteBuffer.wrap(bytes).order(ByteOrder.LITTLE_ENDIAN);
    }
}
