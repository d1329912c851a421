import com.ombrel.disk.win32.Win32Kernel;
import com.ombrel.systembridge.FindEntry;
import com.ombrel.util.file.nativefs.Win32FileNatives;
import java.io.IOException;
import java.io.OutputStream;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.BasicFileAttributes;
import java.util.Comparator;
import java.util.stream.Stream;

/**
 * BackupRead against FileChannel.read, and the find natives of both libraries (Win32Kernel's into a byte array,
 * Win32FileNatives' into an entry object) against Files.newDirectoryStream with the attributes a find returns.
 */
public final class SnapshotFsBench {
    static final int CHUNK = 1 << 20;

    static String windows(Path path) {
        return "C:" + path.toAbsolutePath().toString().replace('/', '\\');
    }

    static long env(String name, long fallback) {
        String value = System.getenv(name);
        return value == null ? fallback : Long.parseLong(value);
    }

    static long backupRead(Path file) {
        long[] handle = {0};
        check(Win32Kernel.CreateFile0(windows(file), 0x80000000, 1, 3, 0x02000000, handle));
        long[] context = {0};
        int[] read = {0};
        byte[] buffer = new byte[CHUNK];
        long total = 0;
        do {
            check(Win32Kernel.BackupRead(handle[0], buffer, 0, CHUNK, read, false, context));
            total += read[0];
        } while (read[0] > 0);
        check(Win32Kernel.BackupReadAbort(handle[0], false, context));
        check(Win32Kernel.CloseHandle(handle[0]));
        return total;
    }

    static long channelRead(Path file) throws IOException {
        ByteBuffer buffer = ByteBuffer.allocate(CHUNK);
        long total = 0;
        try (FileChannel channel = FileChannel.open(file, StandardOpenOption.READ)) {
            int n;
            while ((n = channel.read(buffer)) > 0) {
                total += n;
                buffer.clear();
            }
        }
        return total;
    }

    static long finds(Path folder) {
        long[] search = {0};
        byte[] data = new byte[592];
        check(Win32Kernel.FindFirstFile0(windows(folder) + "\\*", 1, 2, search, data));
        long count = 1;
        while (Win32Kernel.FindNextFile(search[0], data) == 0) {
            count++;
        }
        check(Win32Kernel.FindClose(search[0]));
        return count;
    }

    static long entryFinds(Path folder) {
        FindEntry entry = new FindEntry();
        long search = Win32FileNatives.nativeFindFirstFile(windows(folder) + "\\*", entry);
        long count = 1;
        while (Win32FileNatives.nativeFindNextFile(search, entry) != null) {
            count++;
        }
        Win32FileNatives.nativeFindClose(search);
        return count;
    }

    static long directoryStream(Path folder) throws IOException {
        long count = 0;
        try (DirectoryStream<Path> entries = Files.newDirectoryStream(folder)) {
            for (Path entry : entries) {
                count++;
            }
        }
        return count;
    }

    /** The same listing with what a find returns per entry (type, size, times). */
    static long directoryStreamWithAttributes(Path folder) throws IOException {
        long count = 0;
        try (DirectoryStream<Path> entries = Files.newDirectoryStream(folder)) {
            for (Path entry : entries) {
                BasicFileAttributes attributes = Files.readAttributes(entry, BasicFileAttributes.class,
                        LinkOption.NOFOLLOW_LINKS);
                if (attributes.size() >= 0) {
                    count++;
                }
            }
        }
        return count;
    }

    static void check(int status) {
        if (status != 0) {
            throw new IllegalStateException("status " + status);
        }
    }

    interface Run {
        long run() throws IOException;
    }

    /** Best of a few runs, in nanoseconds. */
    static long time(Run run) throws IOException {
        long best = Long.MAX_VALUE;
        for (int i = 0; i < 3; i++) {
            long start = System.nanoTime();
            run.run();
            best = Math.min(best, System.nanoTime() - start);
        }
        return best;
    }

    public static void main(String[] args) throws IOException {
        Path root = Files.createTempDirectory(Path.of(System.getenv().getOrDefault("OM_STANDIN_ROOT", "/tmp")), "bench");
        long mib = env("OM_BENCH_MIB", 1024);
        long entries = env("OM_BENCH_ENTRIES", 20_000);
        Path file = root.resolve("large.bin");
        byte[] block = new byte[CHUNK];
        for (int i = 0; i < block.length; i++) {
            block[i] = (byte) (i * 13);
        }
        try (OutputStream out = Files.newOutputStream(file)) {
            for (long i = 0; i < mib; i++) {
                out.write(block);
            }
        }
        Path folder = Files.createDirectory(root.resolve("many"));
        for (long i = 0; i < entries; i++) {
            Files.createFile(folder.resolve("entry-" + i + ".dat"));
        }
        channelRead(file); // warm the page cache
        long backupBytes = backupRead(file);
        if (backupBytes != mib * CHUNK + 20) {
            throw new IllegalStateException("backup stream of " + backupBytes + " bytes");
        }
        long backup = time(() -> backupRead(file));
        long channel = time(() -> channelRead(file));
        long find = time(() -> finds(folder));
        long entryFind = time(() -> entryFinds(folder));
        long stream = time(() -> directoryStream(folder));
        long streamWithAttributes = time(() -> directoryStreamWithAttributes(folder));
        System.out.printf("BackupRead via JNI, %d MiB in 1 MiB chunks: %.1f ms; FileChannel.read: %.1f ms; "
                + "throughput ratio %.2f (goal >= 0.90)%n", mib, backup / 1e6, channel / 1e6, (double) channel / backup);
        System.out.printf("Files.newDirectoryStream over %d entries: %.1f ms; with BasicFileAttributes per entry "
                + "(what a find returns): %.1f ms%n", entries, stream / 1e6, streamWithAttributes / 1e6);
        System.out.printf("  Win32Kernel FindFirstFile0/FindNextFile: %.1f ms; ratio %.2f (goal >= 1.00)%n",
                find / 1e6, (double) streamWithAttributes / find);
        System.out.printf("  Win32FileNatives nativeFindFirstFile/nativeFindNextFile: %.1f ms; ratio %.2f (goal >= 1.00)%n",
                entryFind / 1e6, (double) streamWithAttributes / entryFind);
        try (Stream<Path> walk = Files.walk(root)) {
            walk.sorted(Comparator.reverseOrder()).forEach(p -> p.toFile().delete());
        }
    }
}
