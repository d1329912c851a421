package com.ombrel.exchange;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/** The stand-in checker's files: its script, its call log and its counts. */
final class StandInChecker {
    private final Path folder = Paths.get(System.getenv("OM_STANDIN_ROOT"));

    void script(String... lines) throws IOException {
        Files.write(folder.resolve("chksgfiles.control"), Arrays.asList(lines), StandardCharsets.UTF_8);
    }

    void reset() throws IOException {
        script();
        Files.deleteIfExists(folder.resolve("chksgfiles.log"));
    }

    /** The recorded calls, each split at its tabs. */
    List<List<String>> calls() throws IOException {
        Path log = folder.resolve("chksgfiles.log");
        List<List<String>> calls = new ArrayList<>();
        if (!Files.exists(log)) {
            return calls;
        }
        for (String line : Files.readAllLines(log, StandardCharsets.UTF_8)) {
            calls.add(Arrays.asList(line.split("\t", -1)));
        }
        return calls;
    }

    List<String> lastCall() throws IOException {
        List<List<String>> all = calls();
        return all.isEmpty() ? List.of() : all.get(all.size() - 1);
    }

    /** Objects alive ("live") or text copies alive ("copies"). */
    long count(String name) throws IOException {
        for (String line : Files.readAllLines(folder.resolve("chksgfiles.state"), StandardCharsets.UTF_8)) {
            if (line.startsWith(name + "=")) {
                return Long.parseLong(line.substring(name.length() + 1));
            }
        }
        throw new AssertionError("no " + name + " in the stand-in's state");
    }
}
