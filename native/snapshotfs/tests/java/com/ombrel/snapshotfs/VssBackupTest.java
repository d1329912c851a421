package com.ombrel.snapshotfs;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ombrel.disk.win32.Win32Kernel;
import com.ombrel.testing.Folders;
import com.ombrel.vss.win32.VssApi;
import com.ombrel.vss.win32.VssAsync;
import com.ombrel.vss.win32.VssBackupComponents;
import com.ombrel.vss.win32.VssExamineWriterMetadata;
import com.ombrel.vss.win32.VssExamineWriterMetadataComponent;
import com.ombrel.vss.win32.VssExamineWriterMetadataDependency;
import com.ombrel.vss.win32.VssExamineWriterMetadataFileDescriptor;
import com.ombrel.vss.win32.VssSnapshotProperties;
import com.ombrel.vss.win32.VssWriterComponentExt;
import com.ombrel.vss.win32.VssWriterComponentsExt;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HexFormat;
import java.util.List;
import java.util.Set;
import java.util.TreeSet;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/** The Volume Shadow Copy natives driven as the agent drives them, on our shadow-copy stand-in. */
class VssBackupTest {
    static final int ASYNC_PENDING = 0x42309;
    static final int ASYNC_FINISHED = 0x4230A;
    static final int ASYNC_CANCELLED = 0x4230B;
    static final int BAD_STATE = 0x80042301;
    static final int OBJECT_NOT_FOUND = 0x80042308;
    static final int INVALID_ARG = 0x80070057;
    static final int COMPONENT_DATABASE = 1;
    static final int COMPONENT_FILEGROUP = 2;
    static final int BACKUP_FULL = 1;
    static final int OBJECT_SNAPSHOT = 3;
    static final int WRITER_STABLE = 1;
    static final int SNAPSHOT_CREATED = 12;

    static final byte[] SQL_WRITER = guid("A65FAA63-5EA8-4EBC-9DBD-A0C4DB26912A");
    static final byte[] SQL_INSTANCE = guid("C4A3E90F-3F54-4DB1-9E3C-3B6A4F2A9C01");
    static final byte[] SYSTEM_WRITER = guid("E8132975-6F93-4464-A53E-1050253AE220");
    static final byte[] SYSTEM_INSTANCE = guid("0B8C5AD1-7E1B-4D55-8B7E-1F6C2E0D4A11");
    static final byte[] BITS_WRITER = guid("4969D978-BE47-48B0-B100-F328F07AC1E0");

    Path volume;

    /** A GUID's 16 bytes in memory order from its text. */
    static byte[] guid(String text) {
        byte[] b = HexFormat.of().parseHex(text.replace("-", ""));
        return new byte[] {b[3], b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
            b[14], b[15]};
    }

    static String text(byte[] guid) {
        return String.format("{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid[3], guid[2],
                guid[1], guid[0], guid[5], guid[4], guid[7], guid[6], guid[8], guid[9], guid[10], guid[11], guid[12],
                guid[13], guid[14], guid[15]);
    }

    static long created() {
        long[] components = {0};
        assertEquals(0, VssApi.CreateVssBackupComponents0(components));
        assertNotEquals(0L, components[0]);
        return components[0];
    }

    /** Waits for an operation, checks that it finished and releases it. */
    static void finish(int result, long[] async) {
        assertEquals(0, result);
        int[] status = {-1};
        assertEquals(0, VssAsync.QueryStatus(async[0], status));
        assertEquals(ASYNC_PENDING, status[0]);
        assertEquals(0, VssAsync.Wait(async[0], -1));
        assertEquals(0, VssAsync.QueryStatus(async[0], status));
        assertEquals(ASYNC_FINISHED, status[0]);
        assertEquals(0, VssAsync.Release(async[0]));
    }

    static long gathered(long backup) {
        assertEquals(0, VssBackupComponents.InitializeForBackup(backup));
        assertEquals(0, VssBackupComponents.SetContext(backup, 0));
        assertEquals(0, VssBackupComponents.SetBackupState(backup, true, false, BACKUP_FULL, false));
        long[] async = {0};
        finish(VssBackupComponents.GatherWriterMetadata(backup, async), async);
        return backup;
    }

    @BeforeEach
    void volume() throws IOException {
        volume = Folders.fresh("volume");
        Files.writeString(volume.resolve("report.txt"), "quarterly figures");
        Files.createDirectory(volume.resolve("db"));
        Files.write(volume.resolve("db").resolve("sales.mdf"), new byte[] {1, 2, 3, 4, 5});
        VssStandIn.clearLog();
    }

    @AfterEach
    void nothingLeaks() {
        assertEquals(0, VssStandIn.liveObjects(), "live stand-in objects");
        assertEquals(0, VssStandIn.liveBstrs(), "live BSTRs");
    }

    /** Everything a writer says about itself, read as the agent reads it. */
    record Writer(byte[] instance, byte[] writer, String name, List<String> components) {
    }

    static Writer readWriter(long backup, int index) {
        byte[] instance = new byte[16];
        long[] metadata = {0};
        assertEquals(0, VssBackupComponents.GetWriterMetadata(backup, index, instance, metadata));
        long m = metadata[0];
        byte[] identityInstance = new byte[16];
        byte[] writer = new byte[16];
        long[] name = {0};
        int[] usage = {0};
        int[] source = {0};
        assertEquals(0, VssExamineWriterMetadata.GetIdentity(m, identityInstance, writer, name, usage, source));
        assertArrayEquals(instance, identityInstance);
        String writerName = VssStandIn.take(name[0]);

        int[] includes = {0};
        int[] excludes = {0};
        int[] count = {0};
        assertEquals(0, VssExamineWriterMetadata.GetFileCounts(m, includes, excludes, count));
        for (int i = 0; i < excludes[0]; i++) {
            long[] file = {0};
            assertEquals(0, VssExamineWriterMetadata.GetExcludeFile(m, i, file));
            readFile(file[0]);
        }
        int[] method = {0};
        long[] service = {0};
        long[] procedure = {0};
        int[] writerRestore = {0};
        boolean[] reboot = {false};
        int[] mappings = {0};
        assertEquals(0, VssExamineWriterMetadata.GetRestoreMethod(m, method, service, procedure, writerRestore, reboot,
                mappings));
        VssStandIn.take(service[0]);
        VssStandIn.take(procedure[0]);
        for (int i = 0; i < mappings[0]; i++) {
            long[] file = {0};
            assertEquals(0, VssExamineWriterMetadata.GetAlternateLocationMapping(m, i, file));
            readFile(file[0]);
        }
        int[] schema = {-1};
        assertEquals(0, VssExamineWriterMetadata.GetBackupSchema(m, schema));

        List<String> components = new ArrayList<>();
        for (int c = 0; c < count[0]; c++) {
            long[] component = {0};
            assertEquals(0, VssExamineWriterMetadata.GetComponent(m, c, component));
            components.add(readComponent(component[0]));
            assertEquals(0, VssAsync.Release(component[0]));
        }
        assertEquals(0, VssBackupComponents.Release(m));
        return new Writer(instance, writer, writerName, components);
    }

    /** "name path files databases logs dependencies" of a metadata component. */
    static String readComponent(long component) {
        long[] info = {0};
        assertEquals(0, VssExamineWriterMetadataComponent.GetComponentInfo(component, info));
        int[] type = {0};
        long[] path = {0};
        long[] name = {0};
        long[] caption = {0};
        long[] icon = {0};
        int[] iconSize = {0};
        boolean[] restoreMetadata = {false};
        boolean[] notify = {false};
        boolean[] selectable = {false};
        boolean[] selectableForRestore = {false};
        int[] flags = {0};
        int[] files = {0};
        int[] databases = {0};
        int[] logs = {0};
        int[] dependencies = {0};
        assertEquals(0, VssExamineWriterMetadataComponent.LoadComponentInfo(info[0], type, path, name, caption, icon,
                iconSize, restoreMetadata, notify, selectable, selectableForRestore, flags, files, databases, logs,
                dependencies));
        String componentName = VssStandIn.read(name[0]);
        String logicalPath = VssStandIn.read(path[0]);
        assertEquals(0, VssExamineWriterMetadataComponent.FreeComponentInfo(component, info[0]));

        StringBuilder out = new StringBuilder(componentName + " " + logicalPath);
        for (int i = 0; i < files[0]; i++) {
            long[] file = {0};
            assertEquals(0, VssExamineWriterMetadataComponent.GetFile(component, i, file));
            out.append(" file:").append(readFile(file[0]));
        }
        for (int i = 0; i < databases[0]; i++) {
            long[] file = {0};
            assertEquals(0, VssExamineWriterMetadataComponent.GetDatabaseFile(component, i, file));
            out.append(" db:").append(readFile(file[0]));
        }
        for (int i = 0; i < logs[0]; i++) {
            long[] file = {0};
            assertEquals(0, VssExamineWriterMetadataComponent.GetDatabaseLogFile(component, i, file));
            out.append(" log:").append(readFile(file[0]));
        }
        for (int i = 0; i < dependencies[0]; i++) {
            long[] dependency = {0};
            assertEquals(0, VssExamineWriterMetadataComponent.GetDependency(component, i, dependency));
            byte[] writer = new byte[16];
            long[] dependencyPath = {0};
            long[] dependencyName = {0};
            assertEquals(0, VssExamineWriterMetadataDependency.GetWriterId(dependency[0], writer));
            assertEquals(0, VssExamineWriterMetadataDependency.GetLogicalPath(dependency[0], dependencyPath));
            assertEquals(0, VssExamineWriterMetadataDependency.GetComponentName(dependency[0], dependencyName));
            out.append(" needs:").append(text(writer)).append(VssStandIn.take(dependencyPath[0])).append('\\')
                    .append(VssStandIn.take(dependencyName[0]));
            assertEquals(0, VssAsync.Release(dependency[0]));
        }
        return out.toString();
    }

    /** "path\spec" of a file descriptor, which is released. */
    static String readFile(long file) {
        long[] path = {0};
        long[] spec = {0};
        long[] alternate = {0};
        boolean[] recursive = {false};
        int[] mask = {0};
        assertEquals(0, VssExamineWriterMetadataFileDescriptor.GetPath(file, path));
        assertEquals(0, VssExamineWriterMetadataFileDescriptor.GetFileSpec(file, spec));
        assertEquals(0, VssExamineWriterMetadataFileDescriptor.GetAlternateLocation(file, alternate));
        assertEquals(0, VssExamineWriterMetadataFileDescriptor.GetRecursive(file, recursive));
        assertEquals(0, VssExamineWriterMetadataFileDescriptor.GetBackupTypeMask(file, mask));
        String out = VssStandIn.take(path[0]) + "\\" + VssStandIn.take(spec[0]);
        VssStandIn.take(alternate[0]);
        assertEquals(0, VssAsync.Release(file));
        return out;
    }

    static String propertyText(long properties, String which) {
        char[] text;
        switch (which) {
            case "device" -> {
                text = new char[VssSnapshotProperties.GetSnapshotDeviceObjectLength(properties)];
                VssSnapshotProperties.GetSnapshotDeviceObject(properties, text);
            }
            case "volume" -> {
                text = new char[VssSnapshotProperties.GetOriginalVolumeNameLength(properties)];
                VssSnapshotProperties.GetOriginalVolumeName(properties, text);
            }
            case "origin" -> {
                text = new char[VssSnapshotProperties.GetOriginatingMachineLength(properties)];
                VssSnapshotProperties.GetOriginatingMachine(properties, text);
            }
            case "service" -> {
                text = new char[VssSnapshotProperties.GetServiceMachineLength(properties)];
                VssSnapshotProperties.GetServiceMachine(properties, text);
            }
            case "exposedName" -> {
                text = new char[VssSnapshotProperties.GetExposedNameLength(properties)];
                VssSnapshotProperties.GetExposedName(properties, text);
            }
            default -> {
                text = new char[VssSnapshotProperties.GetExposedPathLength(properties)];
                VssSnapshotProperties.GetExposedPath(properties, text);
            }
        }
        return new String(text);
    }

    static Set<String> list(String folder) {
        long[] search = {0};
        byte[] data = new byte[592];
        Set<String> names = new TreeSet<>();
        assertEquals(0, Win32Kernel.FindFirstFile0(folder + "\\*", 1, 0, search, data));
        do {
            names.add(Folders.wide(data, 44, 260));
        } while (Win32Kernel.FindNextFile(search[0], data) == 0);
        assertEquals(0, Win32Kernel.FindClose(search[0]));
        return names;
    }

    static byte[] backupRead(String path) {
        long[] handle = {0};
        assertEquals(0, Win32Kernel.CreateFile0(path, 0x80000000, 1, 3, 0x02000000, handle));
        long[] context = {0};
        int[] read = {0};
        byte[] buffer = new byte[4096];
        java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream();
        do {
            assertEquals(0, Win32Kernel.BackupRead(handle[0], buffer, 0, buffer.length, read, false, context));
            out.write(buffer, 0, read[0]);
        } while (read[0] > 0);
        assertEquals(0, Win32Kernel.BackupReadAbort(handle[0], false, context));
        assertEquals(0, Win32Kernel.CloseHandle(handle[0]));
        for (BackupStreamsTest.Stream stream : BackupStreamsTest.parse(out.toByteArray())) {
            if (stream.id() == 1) {
                return stream.data();
            }
        }
        throw new AssertionError("no data stream in " + path);
    }

    @Test
    void wholeSnapshotBackupAsTheAgentDrivesIt() throws IOException {
        long backup = gathered(created());
        long[] async = {0};

        int[] count = {0};
        assertEquals(0, VssBackupComponents.GetWriterMetadataCount(backup, count));
        assertEquals(3, count[0]);
        List<Writer> writers = new ArrayList<>();
        for (int i = 0; i < count[0]; i++) {
            writers.add(readWriter(backup, i));
        }
        assertEquals(List.of("System Writer", "SqlServerWriter", "BITS Writer"),
                writers.stream().map(Writer::name).toList());
        assertArrayEquals(SQL_WRITER, writers.get(1).writer());
        assertArrayEquals(SQL_INSTANCE, writers.get(1).instance());
        assertEquals(List.of(
                "master SQLHOST\\MSSQLSERVER db:D:\\data\\master.mdf log:D:\\logs\\mastlog.ldf",
                "sales SQLHOST\\MSSQLSERVER db:D:\\data\\sales.mdf log:D:\\logs\\sales.ldf needs:"
                        + text(SQL_WRITER) + "SQLHOST\\MSSQLSERVER\\master"),
                writers.get(1).components());
        assertEquals(List.of("System Files null file:%systemroot%\\system32\\*.sys "
                + "file:%systemroot%\\system32\\drivers\\*"), writers.get(0).components());

        finish(VssBackupComponents.GatherWriterStatus(backup, async), async);
        assertEquals(0, VssBackupComponents.GetWriterStatusCount(backup, count));
        assertEquals(3, count[0]);
        List<String> states = new ArrayList<>();
        for (int i = 0; i < count[0]; i++) {
            byte[] writer = new byte[16];
            byte[] instance = new byte[16];
            long[] name = {0};
            int[] state = {0};
            int[] failure = {0};
            assertEquals(0, VssBackupComponents.GetWriterStatus(backup, i, writer, instance, name, state, failure));
            assertArrayEquals(writers.get(i).writer(), writer);
            assertArrayEquals(writers.get(i).instance(), instance);
            states.add(VssStandIn.take(name[0]) + "=" + state[0] + "/" + Integer.toHexString(failure[0]));
        }
        assertEquals(List.of("System Writer=1/0", "SqlServerWriter=1/0", "BITS Writer=7/800423f4"), states);
        assertEquals(0, VssBackupComponents.FreeWriterStatus(backup));

        assertEquals(0, VssBackupComponents.AddComponent(backup, SQL_WRITER, SQL_INSTANCE, COMPONENT_DATABASE,
                "SQLHOST\\MSSQLSERVER", "sales"));
        assertEquals(0, VssBackupComponents.AddComponent(backup, SYSTEM_WRITER, SYSTEM_INSTANCE, COMPONENT_FILEGROUP,
                null, "System Files"));
        assertEquals(0, VssBackupComponents.SetBackupOptions(backup, SQL_WRITER, COMPONENT_DATABASE,
                "SQLHOST\\MSSQLSERVER", "sales", "copy-only"));

        byte[] set = new byte[16];
        assertEquals(0, VssBackupComponents.StartSnapshotSet(backup, set));
        boolean[] supported = {false};
        assertEquals(0, VssBackupComponents.IsVolumeSupported(backup, new byte[16], Folders.windows(volume), supported));
        assertTrue(supported[0]);
        byte[] snapshot = new byte[16];
        assertEquals(0, VssBackupComponents.AddToSnapshotSet(backup, Folders.windows(volume) + "\\", snapshot));
        assertNotEquals(text(new byte[16]), text(snapshot));
        finish(VssBackupComponents.PrepareForBackup(backup, async), async);
        finish(VssBackupComponents.DoSnapshotSet(backup, async), async);

        long[] properties = {0};
        assertEquals(0, VssBackupComponents.GetSnapshotProperties(backup, snapshot, properties));
        long p = properties[0];
        byte[] id = new byte[16];
        VssSnapshotProperties.GetSnapshotId(p, id);
        assertArrayEquals(snapshot, id);
        VssSnapshotProperties.GetSnapshotSetId(p, id);
        assertArrayEquals(set, id);
        assertEquals(1, VssSnapshotProperties.GetSnapshotsCount(p));
        String device = propertyText(p, "device");
        assertTrue(device.matches("\\\\\\\\\\?\\\\GLOBALROOT\\\\Device\\\\HarddiskVolumeShadowCopy\\d+"), device);
        assertEquals(Folders.windows(volume) + "\\", propertyText(p, "volume"));
        assertEquals("standin.local", propertyText(p, "origin"));
        assertEquals("standin.local", propertyText(p, "service"));
        assertEquals("", propertyText(p, "exposedName"));
        assertEquals("", propertyText(p, "exposedPath"));
        VssSnapshotProperties.GetProviderId(p, id);
        assertNotEquals(text(new byte[16]), text(id));
        assertEquals(SNAPSHOT_CREATED, VssSnapshotProperties.GetStatus(p));
        assertEquals(0, VssSnapshotProperties.GetSnapshotAttributes(p));
        long now = System.currentTimeMillis() * 10_000 + 116_444_736_000_000_000L;
        assertTrue(Math.abs(now - VssSnapshotProperties.GetCreationTimestamp(p)) < 600_000_000L);
        VssSnapshotProperties.VssFreeSnapshotProperties(p);

        // The originals change; the snapshot keeps what was there.
        Files.writeString(volume.resolve("report.txt"), "restated figures, much longer than before");
        Files.write(volume.resolve("late.txt"), new byte[7]);
        Files.delete(volume.resolve("db").resolve("sales.mdf"));
        assertEquals(new TreeSet<>(Arrays.asList(".", "..", "db", "report.txt")), list(device));
        assertEquals(new TreeSet<>(Arrays.asList(".", "..", "sales.mdf")), list(device + "\\db"));
        assertEquals("quarterly figures", new String(backupRead(device + "\\report.txt"), StandardCharsets.UTF_8));
        assertArrayEquals(new byte[] {1, 2, 3, 4, 5}, backupRead(device + "\\db\\sales.mdf"));

        // Components as the writers now see them.
        assertEquals(0, VssBackupComponents.GetWriterComponentsCount(backup, count));
        assertEquals(2, count[0]);
        long[] writerComponents = {0};
        assertEquals(0, VssBackupComponents.GetWriterComponents(backup, 0, writerComponents));
        byte[] instance = new byte[16];
        byte[] writer = new byte[16];
        assertEquals(0, VssWriterComponentsExt.GetWriterInfo(writerComponents[0], instance, writer));
        assertArrayEquals(SQL_INSTANCE, instance);
        assertArrayEquals(SQL_WRITER, writer);
        assertEquals(0, VssWriterComponentsExt.GetComponentCount(writerComponents[0], count));
        assertEquals(1, count[0]);
        long[] component = {0};
        assertEquals(0, VssWriterComponentsExt.GetComponent(writerComponents[0], 0, component));
        long[] text = {0};
        assertEquals(0, VssWriterComponentExt.GetComponentName(component[0], text));
        assertEquals("sales", VssStandIn.take(text[0]));
        assertEquals(0, VssWriterComponentExt.GetLogicalPath(component[0], text));
        assertEquals("SQLHOST\\MSSQLSERVER", VssStandIn.take(text[0]));
        assertEquals(0, VssWriterComponentExt.GetBackupOptions(component[0], text));
        assertEquals("copy-only", VssStandIn.take(text[0]));
        assertEquals(0, VssWriterComponentExt.GetBackupStamp(component[0], text));
        assertEquals("stamp " + text(set), VssStandIn.take(text[0]));
        int[] value = {-1};
        assertEquals(0, VssWriterComponentExt.GetComponentType(component[0], value));
        assertEquals(COMPONENT_DATABASE, value[0]);
        boolean[] flag = {true};
        assertEquals(0, VssWriterComponentExt.GetBackupSucceeded(component[0], flag));
        assertFalse(flag[0]);
        assertEquals(0, VssAsync.Release(component[0]));
        assertEquals(0, VssWriterComponentsExt.Release(writerComponents[0]));

        assertEquals(0, VssBackupComponents.SetBackupSucceeded(backup, SQL_WRITER, SQL_INSTANCE, COMPONENT_DATABASE,
                "SQLHOST\\MSSQLSERVER", "sales", true));
        finish(VssBackupComponents.BackupComplete(backup, async), async);
        long[] document = {0};
        assertEquals(0, VssBackupComponents.SaveAsXML(backup, document));
        String saved = VssStandIn.take(document[0]);
        assertTrue(saved.contains("name=sales") && saved.contains("succeeded=1"), saved);
        assertEquals(0, VssBackupComponents.FreeWriterMetadata(backup));
        assertEquals(0, VssBackupComponents.Release(backup));

        // The snapshot ends with the backup session.
        long[] search = {0};
        assertNotEquals(0, Win32Kernel.FindFirstFile0(device + "\\*", 1, 0, search, new byte[592]));
        assertEquals(List.of("InitializeForBackup", "SetContext", "SetBackupState", "GatherWriterMetadata",
                "GetWriterMetadataCount", "GetWriterMetadata", "GetWriterMetadata", "GetWriterMetadata",
                "GatherWriterStatus", "GetWriterStatusCount", "GetWriterStatus", "GetWriterStatus", "GetWriterStatus",
                "FreeWriterStatus", "AddComponent", "AddComponent", "SetBackupOptions", "StartSnapshotSet",
                "IsVolumeSupported", "AddToSnapshotSet", "PrepareForBackup", "DoSnapshotSet",
                "GetSnapshotProperties", "GetWriterComponentsCount", "GetWriterComponents", "SetBackupSucceeded",
                "BackupComplete", "SaveAsXML", "FreeWriterMetadata"), VssStandIn.backupCalls());
    }

    @Test
    void restoreFromTheSavedDocument() {
        long backup = gathered(created());
        long[] async = {0};
        assertEquals(0, VssBackupComponents.AddComponent(backup, SQL_WRITER, SQL_INSTANCE, COMPONENT_DATABASE,
                "SQLHOST\\MSSQLSERVER", "master"));
        assertEquals(0, VssBackupComponents.AddComponent(backup, BITS_WRITER,
                guid("59F1B6A2-0C8E-4E6B-A0B4-7D2E5C8F3A22"), COMPONENT_FILEGROUP, null, "BITS_metadata"));
        long[] document = {0};
        assertEquals(0, VssBackupComponents.SaveAsXML(backup, document));
        assertEquals(0, VssBackupComponents.Release(backup));

        long restore = created();
        assertEquals(0, VssBackupComponents.InitializeForRestore(restore, document[0]));
        VssStandIn.freeBstr(document[0]);
        finish(VssBackupComponents.GatherWriterMetadata(restore, async), async);
        assertEquals(0, VssBackupComponents.SetRestoreState(restore, 1));
        assertEquals(0, VssBackupComponents.SetSelectedForRestore(restore, SQL_WRITER, COMPONENT_DATABASE,
                "SQLHOST\\MSSQLSERVER", "master", true));
        assertEquals(0, VssBackupComponents.SetSelectedForRestore(restore, BITS_WRITER, COMPONENT_FILEGROUP, null,
                "BITS_metadata", true));
        assertEquals(0, VssBackupComponents.SetRestoreOptions(restore, SQL_WRITER, COMPONENT_DATABASE,
                "SQLHOST\\MSSQLSERVER", "master", "norecovery"));
        assertEquals(0, VssBackupComponents.AddRestoreSubcomponent(restore, SQL_WRITER, COMPONENT_DATABASE,
                "SQLHOST\\MSSQLSERVER", "master", "SQLHOST\\MSSQLSERVER\\master", "pages", false));
        assertEquals(OBJECT_NOT_FOUND, VssBackupComponents.SetSelectedForRestore(restore, SQL_WRITER,
                COMPONENT_DATABASE, "SQLHOST\\MSSQLSERVER", "sales", true));
        // File restore status belongs after the pre-restore.
        assertEquals(BAD_STATE, VssBackupComponents.SetFileRestoreStatus(restore, SQL_WRITER, COMPONENT_DATABASE,
                "SQLHOST\\MSSQLSERVER", "master", 2));
        finish(VssBackupComponents.PreRestore(restore, async), async);
        assertEquals(0, VssBackupComponents.SetFileRestoreStatus(restore, SQL_WRITER, COMPONENT_DATABASE,
                "SQLHOST\\MSSQLSERVER", "master", 2));
        finish(VssBackupComponents.PostRestore(restore, async), async);

        int[] count = {0};
        assertEquals(0, VssBackupComponents.GetWriterComponentsCount(restore, count));
        assertEquals(2, count[0]);
        List<String> seen = new ArrayList<>();
        for (int w = 0; w < count[0]; w++) {
            long[] writer = {0};
            assertEquals(0, VssBackupComponents.GetWriterComponents(restore, w, writer));
            long[] component = {0};
            assertEquals(0, VssWriterComponentsExt.GetComponent(writer[0], 0, component));
            long c = component[0];
            long[] text = {0};
            boolean[] flag = {false};
            int[] value = {0};
            assertEquals(0, VssWriterComponentExt.GetComponentName(c, text));
            StringBuilder line = new StringBuilder(VssStandIn.take(text[0]));
            assertEquals(0, VssWriterComponentExt.IsSelectedForRestore(c, flag));
            line.append(" selected=").append(flag[0]);
            assertEquals(0, VssWriterComponentExt.GetRestoreOptions(c, text));
            line.append(" options=").append(VssStandIn.take(text[0]));
            assertEquals(0, VssWriterComponentExt.GetFileRestoreStatus(c, value));
            line.append(" status=").append(value[0]);
            assertEquals(0, VssWriterComponentExt.GetRestoreSubcomponentCount(c, value));
            line.append(" subcomponents=").append(value[0]);
            assertEquals(0, VssWriterComponentExt.GetPreRestoreFailureMsg(c, text));
            line.append(" failure=").append(VssStandIn.take(text[0]));
            assertEquals(0, VssWriterComponentExt.GetPostRestoreFailureMsg(c, text));
            assertNull(VssStandIn.take(text[0]));
            assertEquals(0, VssWriterComponentExt.GetRestoreTarget(c, value));
            assertEquals(1, value[0]);
            assertEquals(0, VssWriterComponentExt.GetAdditionalRestores(c, flag));
            assertFalse(flag[0]);
            for (var counter : List.<java.util.function.ToIntBiFunction<Long, int[]>>of(
                    VssWriterComponentExt::GetAlternateLocationMappingCount, VssWriterComponentExt::GetPartialFileCount,
                    VssWriterComponentExt::GetNewTargetCount, VssWriterComponentExt::GetDirectedTargetCount,
                    VssWriterComponentExt::GetDifferencedFilesCount)) {
                value[0] = -1;
                assertEquals(0, counter.applyAsInt(c, value));
                assertEquals(0, value[0]);
            }
            assertEquals(0, VssWriterComponentExt.GetPreviousBackupStamp(c, text));
            assertNull(VssStandIn.take(text[0]));
            assertEquals(0, VssWriterComponentExt.GetBackupSucceeded(c, flag));
            assertEquals(0, VssAsync.Release(c));
            // Either generic release serves writer components too, through their own IUnknown.
            assertEquals(0, w == 0 ? VssBackupComponents.Release(writer[0]) : VssAsync.Release(writer[0]));
            seen.add(line.toString());
        }
        assertEquals(List.of("master selected=true options=norecovery status=2 subcomponents=1 failure=null",
                "BITS_metadata selected=true options=null status=0 subcomponents=0 "
                        + "failure=pre-restore failed: BITS Writer"), seen);
        assertEquals(0, VssBackupComponents.Release(restore));
        assertEquals(List.of("InitializeForRestore", "GatherWriterMetadata", "SetRestoreState",
                "SetSelectedForRestore", "SetSelectedForRestore", "SetRestoreOptions", "AddRestoreSubcomponent",
                "SetSelectedForRestore", "SetFileRestoreStatus", "PreRestore", "SetFileRestoreStatus", "PostRestore",
                "GetWriterComponentsCount", "GetWriterComponents", "GetWriterComponents"),
                VssStandIn.backupCalls().subList(VssStandIn.backupCalls().indexOf("InitializeForRestore"),
                        VssStandIn.backupCalls().size()));
    }

    @Test
    void instanceIdGoesFirstAndGuidsKeepTheirByteOrder() {
        long backup = gathered(created());
        VssStandIn.clearLog();
        assertEquals(0, VssBackupComponents.AddComponent(backup, SQL_WRITER, SQL_INSTANCE, COMPONENT_DATABASE,
                "SQLHOST\\MSSQLSERVER", "master"));
        assertEquals(BAD_STATE, VssBackupComponents.SetBackupSucceeded(backup, SQL_WRITER, SQL_INSTANCE,
                COMPONENT_DATABASE, "SQLHOST\\MSSQLSERVER", "master", true));
        String log = VssStandIn.callLog();
        assertTrue(log.contains("AddComponent({C4A3E90F-3F54-4DB1-9E3C-3B6A4F2A9C01}, "
                + "{A65FAA63-5EA8-4EBC-9DBD-A0C4DB26912A}, 1, \"SQLHOST\\MSSQLSERVER\", \"master\")"), log);
        assertTrue(log.contains("SetBackupSucceeded({C4A3E90F-3F54-4DB1-9E3C-3B6A4F2A9C01}, "
                + "{A65FAA63-5EA8-4EBC-9DBD-A0C4DB26912A}, 1, \"SQLHOST\\MSSQLSERVER\", \"master\", 1)"), log);

        // {A65FAA63-5EA8-4EBC-9DBD-A0C4DB26912A} as its bytes in memory order.
        byte[] instance = new byte[16];
        long[] metadata = {0};
        assertEquals(0, VssBackupComponents.GetWriterMetadata(backup, 1, instance, metadata));
        byte[] writer = new byte[16];
        long[] name = {0};
        assertEquals(0, VssExamineWriterMetadata.GetIdentity(metadata[0], new byte[16], writer, name, new int[1],
                new int[1]));
        VssStandIn.freeBstr(name[0]);
        assertEquals("63AA5FA6A85EBC4E9DBDA0C4DB26912A", HexFormat.of().withUpperCase().formatHex(writer));

        // A metadata document read back into a metadata object describes the same writer.
        long[] document = {0};
        assertEquals(0, VssExamineWriterMetadata.SaveAsXML(metadata[0], document));
        long[] copy = {0};
        assertEquals(0, VssApi.CreateVssExamineWriterMetadata(document[0], copy));
        assertEquals(0, VssExamineWriterMetadata.LoadFromXML(copy[0], document[0]));
        VssStandIn.freeBstr(document[0]);
        byte[] again = new byte[16];
        assertEquals(0, VssExamineWriterMetadata.GetIdentity(copy[0], new byte[16], again, name, new int[1],
                new int[1]));
        assertEquals("SqlServerWriter", VssStandIn.take(name[0]));
        assertArrayEquals(writer, again);
        assertEquals(0, VssAsync.Release(copy[0]));
        assertEquals(0, VssAsync.Release(metadata[0]));
        assertEquals(0, VssBackupComponents.Release(backup));
    }

    @Test
    void componentInfoFlagsLandInTheirOwnArrays() {
        long backup = gathered(created());
        long[] metadata = {0};
        assertEquals(0, VssBackupComponents.GetWriterMetadata(backup, 1, new byte[16], metadata));
        long[] component = {0};
        assertEquals(0, VssExamineWriterMetadata.GetComponent(metadata[0], 1, component));
        long[] info = {0};
        assertEquals(0, VssExamineWriterMetadataComponent.GetComponentInfo(component[0], info));
        boolean[][] flags = {{true}, {true}, {false}, {true}};
        long[] icon = {0};
        int[] iconSize = {0};
        int[] counts = new int[5];
        int[][] ints = {{0}, {0}, {0}, {0}, {0}, {0}, {0}};
        assertEquals(0, VssExamineWriterMetadataComponent.LoadComponentInfo(info[0], ints[0], new long[1],
                new long[1], new long[1], icon, iconSize, flags[0], flags[1], flags[2], flags[3], ints[1], ints[2],
                ints[3], ints[4], ints[5]));
        assertEquals("[false, false, true, false]",
                Arrays.toString(new boolean[] {flags[0][0], flags[1][0], flags[2][0], flags[3][0]}));
        assertEquals(COMPONENT_DATABASE, ints[0][0]);
        assertEquals("[1, 0, 1, 1, 1]", Arrays.toString(new int[] {ints[1][0], ints[2][0], ints[3][0], ints[4][0],
            ints[5][0]}));
        assertEquals(0L, icon[0]);
        assertEquals(0, iconSize[0]);
        assertEquals(0, counts[0]);
        assertEquals(0, VssExamineWriterMetadataComponent.FreeComponentInfo(component[0], info[0]));
        // An index beyond the count fails and hands back no object.
        long[] beyond = {12345};
        assertEquals(INVALID_ARG, VssExamineWriterMetadata.GetComponent(metadata[0], 2, beyond));
        assertEquals(0L, beyond[0]);
        assertEquals(0, VssAsync.Release(component[0]));
        assertEquals(0, VssAsync.Release(metadata[0]));
        assertEquals(0, VssBackupComponents.Release(backup));
    }

    @Test
    void outOfOrderUnknownAndOutOfRangeCallsFailCleanly() {
        long backup = created();
        int[] count = {77};
        // Nothing gathered yet.
        assertEquals(BAD_STATE, VssBackupComponents.GetWriterMetadataCount(backup, count));
        assertEquals(0, count[0]);
        long[] async = {5};
        assertEquals(BAD_STATE, VssBackupComponents.GatherWriterMetadata(backup, async));
        assertEquals(0L, async[0]);
        gathered(backup);
        assertEquals(BAD_STATE, VssBackupComponents.InitializeForBackup(backup));
        assertEquals(BAD_STATE, VssBackupComponents.DoSnapshotSet(backup, async));

        byte[] instance = {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
        long[] metadata = {12345};
        assertEquals(INVALID_ARG, VssBackupComponents.GetWriterMetadata(backup, 3, instance, metadata));
        assertEquals(0L, metadata[0]);
        assertArrayEquals(new byte[16], instance);
        long[] name = {777};
        int[] state = {5};
        assertEquals(BAD_STATE, VssBackupComponents.GetWriterStatus(backup, 0, new byte[16], new byte[16], name, state,
                new int[1]));
        assertEquals(0L, name[0]);
        assertEquals(0, state[0]);
        assertEquals(OBJECT_NOT_FOUND, VssBackupComponents.AddComponent(backup, guid(
                "11111111-2222-3333-4444-555555555555"), SQL_INSTANCE, COMPONENT_DATABASE, null, "master"));
        assertEquals(OBJECT_NOT_FOUND, VssBackupComponents.AddComponent(backup, SQL_WRITER, SQL_INSTANCE,
                COMPONENT_DATABASE, "SQLHOST\\MSSQLSERVER", "no such database"));
        byte[] snapshot = new byte[16];
        assertEquals(0, VssBackupComponents.StartSnapshotSet(backup, new byte[16]));
        assertEquals(OBJECT_NOT_FOUND, VssBackupComponents.AddToSnapshotSet(backup,
                Folders.windows(volume.resolve("missing")), snapshot));
        assertArrayEquals(new byte[16], snapshot);

        // Wrong out-arrays: 87, nothing called, nothing obtained.
        VssStandIn.clearLog();
        assertEquals(87, VssBackupComponents.GetWriterMetadataCount(backup, new int[2]));
        assertEquals(87, VssBackupComponents.GetWriterMetadata(backup, 0, new byte[15], new long[1]));
        assertEquals(87, VssBackupComponents.GetWriterMetadata(backup, 0, new byte[16], new long[0]));
        assertEquals(87, VssBackupComponents.PrepareForBackup(backup, new long[2]));
        assertEquals(87, VssBackupComponents.AddComponent(backup, new byte[3], SQL_INSTANCE, 1, null, "master"));
        assertEquals(87, VssBackupComponents.DisableWriterClasses(backup, new byte[31], 2));
        assertEquals(87, VssBackupComponents.EnableWriterClasses(backup, null, 1));
        assertEquals(87, VssBackupComponents.DisableWriterInstances(backup, new byte[16], -1));
        // A name holding a zero character would name another component or volume: refused as an invalid name.
        int invalidName = 0x8007007B;
        assertEquals(invalidName, VssBackupComponents.AddComponent(backup, SQL_WRITER, SQL_INSTANCE,
                COMPONENT_DATABASE, "SQLHOST\\MSSQLSERVER", "master\0x"));
        assertEquals(invalidName, VssBackupComponents.AddToSnapshotSet(backup, Folders.windows(volume) + "\\\0x",
                new byte[16]));
        assertEquals("", VssStandIn.callLog());

        // A cancelled operation leaves the session where it was.
        assertEquals(0, VssBackupComponents.PrepareForBackup(backup, async));
        assertEquals(0, VssAsync.Cancel(async[0]));
        int[] status = {0};
        assertEquals(0, VssAsync.QueryStatus(async[0], status));
        assertEquals(ASYNC_CANCELLED, status[0]);
        assertEquals(ASYNC_CANCELLED, VssAsync.Cancel(async[0]));
        assertEquals(0, VssAsync.Release(async[0]));
        assertEquals(BAD_STATE, VssBackupComponents.GetWriterComponentsCount(backup, count));
        finish(VssBackupComponents.PrepareForBackup(backup, async), async);
        assertEquals(0, VssBackupComponents.AbortBackup(backup));
        assertEquals(BAD_STATE, VssBackupComponents.StartSnapshotSet(backup, new byte[16]));
        assertEquals(0, VssBackupComponents.Release(backup));
    }

    @Test
    void writerClassesFilterTheGatheredWriters() {
        long backup = created();
        assertEquals(0, VssBackupComponents.InitializeForBackup(backup));
        byte[] classes = new byte[48];
        System.arraycopy(BITS_WRITER, 0, classes, 0, 16);
        System.arraycopy(SYSTEM_WRITER, 0, classes, 16, 16);
        assertEquals(0, VssBackupComponents.DisableWriterClasses(backup, classes, 2));
        assertEquals(0, VssBackupComponents.EnableWriterClasses(backup, Arrays.copyOfRange(classes, 16, 48), 1));
        assertEquals(0, VssBackupComponents.DisableWriterInstances(backup, new byte[0], 0));
        long[] async = {0};
        finish(VssBackupComponents.GatherWriterMetadata(backup, async), async);
        int[] count = {0};
        assertEquals(0, VssBackupComponents.GetWriterMetadataCount(backup, count));
        assertEquals(2, count[0]);
        assertTrue(VssStandIn.callLog().contains("DisableWriterClasses({4969D978-BE47-48B0-B100-F328F07AC1E0}, "
                + "{E8132975-6F93-4464-A53E-1050253AE220})"));
        assertEquals(0, VssBackupComponents.Release(backup));
    }

    @Test
    void snapshotEdgeCases() {
        long backup = gathered(created());
        long[] async = {0};
        byte[] set = new byte[16];
        assertEquals(0, VssBackupComponents.StartSnapshotSet(backup, set));
        byte[] snapshot = new byte[16];
        assertEquals(0, VssBackupComponents.AddToSnapshotSet(backup, Folders.windows(volume), snapshot));
        finish(VssBackupComponents.PrepareForBackup(backup, async), async);
        finish(VssBackupComponents.DoSnapshotSet(backup, async), async);

        // Properties of a snapshot that does not exist: a negative result and no block.
        long[] properties = {99};
        int result = VssBackupComponents.GetSnapshotProperties(backup, guid("01234567-89AB-CDEF-0123-456789ABCDEF"),
                properties);
        assertTrue(result < 0);
        assertEquals(0L, properties[0]);

        assertEquals(0, VssBackupComponents.GetSnapshotProperties(backup, snapshot, properties));
        int length = VssSnapshotProperties.GetSnapshotDeviceObjectLength(properties[0]);
        char[] exact = new char[length];
        VssSnapshotProperties.GetSnapshotDeviceObject(properties[0], exact);
        assertTrue(new String(exact).startsWith("\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy"));
        assertNotEquals(0, exact[length - 1]);
        char[] shorter = new char[5];
        VssSnapshotProperties.GetSnapshotDeviceObject(properties[0], shorter);
        assertEquals("\\\\?\\G", new String(shorter));
        char[] none = {'x'};
        VssSnapshotProperties.GetExposedName(properties[0], none);
        assertEquals('x', none[0]);
        byte[] shortId = new byte[4];
        VssSnapshotProperties.GetSnapshotId(properties[0], shortId);
        assertArrayEquals(Arrays.copyOf(snapshot, 4), shortId);
        VssSnapshotProperties.VssFreeSnapshotProperties(properties[0]);
        VssSnapshotProperties.VssFreeSnapshotProperties(0);
        assertEquals(0, VssSnapshotProperties.GetSnapshotDeviceObjectLength(0));

        // Deleting what is not there deletes nothing: 0 and the null GUID.
        int[] deleted = {42};
        byte[] nondeleted = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        assertEquals(OBJECT_NOT_FOUND, VssBackupComponents.DeleteSnapshots(backup, guid(
                "01234567-89AB-CDEF-0123-456789ABCDEF"), OBJECT_SNAPSHOT, true, deleted, nondeleted));
        assertEquals(0, deleted[0]);
        assertArrayEquals(new byte[16], nondeleted);
        assertEquals(0, VssBackupComponents.DeleteSnapshots(backup, set, 2, true, deleted, nondeleted));
        assertEquals(1, deleted[0]);
        assertEquals(OBJECT_NOT_FOUND, VssBackupComponents.GetSnapshotProperties(backup, snapshot, properties));

        // A 0 interface pointer is refused, not called through.
        assertEquals(0x80004003, VssBackupComponents.InitializeForBackup(0));
        assertEquals(0x80004003, VssBackupComponents.GetWriterMetadataCount(0, new int[1]));
        assertEquals(0x80004003, VssAsync.Wait(0, 10));
        assertEquals(0x80004003, VssWriterComponentExt.GetBackupStamp(0, new long[1]));
        assertEquals(87, VssExamineWriterMetadataComponent.LoadComponentInfo(0, new int[1], new long[1], new long[1],
                new long[1], new long[1], new int[1], new boolean[1], new boolean[1], new boolean[1], new boolean[1],
                new int[1], new int[1], new int[1], new int[1], new int[1]));

        // Releasing 0 calls nothing.
        assertEquals(0, VssBackupComponents.Release(0));
        assertEquals(0, VssAsync.Release(0));
        assertEquals(0, VssWriterComponentsExt.Release(0));
        assertEquals(0, VssBackupComponents.Release(backup));
    }
}
