package com.ombrel.servicehost;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Collectors;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.Test;

/**
 * ombackup end to end on the stand-in service manager: install, start through
 * om-sc, the in-process JVM running the sample agent (with -Xcheck:jni), the
 * states reported, stop, removal, and the failure paths.
 */
class ServiceHostTest {
  private static final Path BIN = Paths.get(System.getProperty("om.bin"));
  private static final Path ROOT = Paths.get(System.getenv("OM_STANDIN_ROOT"));
  private static final Path LIBJVM =
      Paths.get(System.getenv().getOrDefault("OM_JAVA_HOME", "/usr/lib/jvm/java-17-openjdk-amd64"),
          "lib", "server", "libjvm.so");
  private static final Pattern LOG_LINE =
      Pattern.compile("\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d (Error|Message|Debug|Trace): .*");
  private static final String USAGE = "Invalid arguments\nusage:\n\tombackup -[install|uninstall|debug]\n";
  private static int counter;
  private final List<Install> installs = new ArrayList<>();

  record Result(int code, String out) {}

  record Status(int state, int controls, int win32, int specific, int checkPoint, int waitHint) {}

  /** An installation folder: ombackup beside its stand-in library, lib\*.jar, omjre. */
  static final class Install {
    final Path dir;
    final String name;
    final String display;

    /** In the folder `parent` below the stand-in's root (may be empty). */
    Install(String tag, String parent) throws IOException {
      counter++;
      dir = ROOT.resolve(parent).resolve("install-" + tag + "-" + counter);
      name = "OmTest " + tag + " " + counter;
      display = "OmTest Display " + tag + " " + counter;
      Files.createDirectories(dir.resolve("lib"));
      Files.copy(BIN.resolve("ombackup"), dir.resolve("ombackup"), StandardCopyOption.COPY_ATTRIBUTES);
      Files.copy(BIN.resolve("libomwin32.so"), dir.resolve("libomwin32.so"));
      Files.copy(BIN.resolve("sample-agent.jar"), dir.resolve("lib").resolve("agent.jar"));
    }

    Install withJre(String jre) throws IOException {
      Path server = dir.resolve("omjre").resolve(jre).resolve("bin").resolve("server");
      Files.createDirectories(server);
      Files.createSymbolicLink(server.resolve("jvm.dll"), LIBJVM);
      return this;
    }

    Install properties(String... extraLines) throws IOException {
      // The first occurrence of a key wins: the test's own lines come first.
      List<String> lines = new ArrayList<>(Arrays.asList(extraLines));
      lines.addAll(List.of(
          "# test service",
          "service.name=" + name,
          "service.displayname=" + display,
          "memory=128",
          "extra-params=-Xcheck:jni",
          "main-class=com.ombrel.agentservice.Start"));
      Files.write(dir.resolve("service.properties"), lines);
      return this;
    }

    Install agent(String... lines) throws IOException {
      Files.write(dir.resolve("agent.properties"), Arrays.asList(lines));
      return this;
    }

    String windowsPath() {
      return "C:" + dir.toString().replace('/', '\\');
    }

    Path serviceFolder() {
      return ROOT.resolve("services").resolve(name.toLowerCase(Locale.ROOT));
    }

    Result ombackup(String... args) throws Exception {
      List<String> command = new ArrayList<>();
      command.add(dir.resolve("ombackup").toString());
      command.addAll(Arrays.asList(args));
      return run(command);
    }

    Result sc(String... args) throws Exception {
      List<String> command = new ArrayList<>();
      command.add(BIN.resolve("om-sc").toString());
      command.add(args[0]);
      command.add(name);
      command.addAll(Arrays.asList(args).subList(1, args.length));
      return run(command);
    }

    int state() throws Exception {
      Result query = sc("query");
      Matcher m = Pattern.compile("STATE\\s+: (\\d+)").matcher(query.out);
      assertTrue(m.find(), query.out);
      return Integer.parseInt(m.group(1));
    }

    void awaitState(int wanted) throws Exception {
      long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(60);
      int state = 0;
      while (System.nanoTime() < end) {
        state = state();
        if (state == wanted) return;
        Thread.sleep(50);
      }
      fail("state " + state + " instead of " + wanted + "\n" + read(serviceFolder().resolve("output.log"))
          + read(log()));
    }

    /** Installs and starts the service and waits for `state`. */
    void installAndStart(int state) throws Exception {
      ombackup("-install");
      Result started = sc("start");
      assertEquals(0, started.code, started.out);
      awaitState(state);
    }

    List<Status> reports() throws IOException {
      List<Status> out = new ArrayList<>();
      for (String line : Files.readAllLines(serviceFolder().resolve("status.log"))) {
        if (!line.startsWith("service: ")) continue;
        int[] v = Arrays.stream(line.substring(9).split(" ")).mapToInt(Integer::parseInt).toArray();
        out.add(new Status(v[0], v[1], v[2], v[3], v[4], v[5]));
      }
      return out;
    }

    String awaitExitCode() throws Exception {
      Path file = serviceFolder().resolve("exitcode");
      long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(60);
      while (!Files.exists(file) && System.nanoTime() < end) Thread.sleep(20);
      return read(file).trim();
    }

    Path log() {
      return dir.resolve("ombackup.log");
    }

    List<String> logTexts() throws IOException {
      List<String> texts = new ArrayList<>();
      for (String line : Files.readAllLines(log())) {
        assertTrue(LOG_LINE.matcher(line).matches(), "log line: " + line);
        texts.add(line.substring(18));
      }
      return texts;
    }

    String output() throws IOException {
      return read(serviceFolder().resolve("output.log"));
    }

    List<String> events() throws IOException {
      Path file = dir.resolve("agent-events.log");
      return Files.exists(file) ? Files.readAllLines(file) : List.of();
    }
  }

  static String read(Path file) throws IOException {
    return Files.exists(file) ? Files.readString(file) : "";
  }

  static Result run(List<String> command) throws Exception {
    Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
    process.getOutputStream().close();
    String out = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
    assertTrue(process.waitFor(120, TimeUnit.SECONDS), "timed out: " + command);
    return new Result(process.exitValue(), out);
  }

  static List<String> eventLog() throws IOException {
    Path file = ROOT.resolve("eventlog").resolve("Application.log");
    return Files.exists(file) ? Files.readAllLines(file) : List.of();
  }

  static String uid() throws Exception {
    return run(List.of("id", "-u")).out.trim();
  }

  /** A test that failed half-way leaves no service process behind. */
  @AfterEach
  void removeLeftoverServices() throws Exception {
    for (Install install : installs) {
      if (Files.exists(install.serviceFolder().resolve("config"))) install.ombackup("-uninstall");
    }
  }

  Install install(String tag) throws IOException {
    return install(tag, "");
  }

  Install install(String tag, String parent) throws IOException {
    Install install = new Install(tag, parent);
    installs.add(install);
    return install;
  }

  /** The JNI checker's complaints fail the test. */
  static void assertNoJniWarnings(String output) {
    assertFalse(output.contains("WARNING in native method"), output);
    assertFalse(output.contains("FATAL ERROR in native method"), output);
    assertFalse(output.contains("WARNING: JNI local refs"), output);
  }

  /** The reported state only moves forward, and stopped is reported once. */
  static void assertForwardOnly(List<Status> reports) {
    List<Integer> order = List.of(2, 4, 3, 1);  // start pending, running, stop pending, stopped
    for (int i = 1; i < reports.size(); i++) {
      assertTrue(order.indexOf(reports.get(i).state) >= order.indexOf(reports.get(i - 1).state), reports.toString());
    }
    assertTrue(reports.stream().filter(s -> s.state == 1).count() <= 1, reports.toString());
  }

  /**
   * Installs and starts the service, which ends with one stopped report carrying
   * the service-specific code, and whose log holds `logged`.
   */
  static void assertStartFails(Install install, int specific, String logged) throws Exception {
    assertStartFails(install, specific, logged, "0");
  }

  /** As above, the process ending with `exitCode`. */
  static void assertStartFails(Install install, int specific, String logged, String exitCode) throws Exception {
    install.ombackup("-install");
    install.sc("start");
    install.awaitState(1);
    List<Status> reports = install.reports();
    assertForwardOnly(reports);
    List<Status> stopped = reports.stream().filter(s -> s.state == 1).collect(Collectors.toList());
    assertEquals(1, stopped.size(), reports.toString());
    assertEquals(1066, stopped.get(0).win32);
    assertEquals(specific, stopped.get(0).specific);
    assertEquals(exitCode, install.awaitExitCode());
    Result query = install.sc("query");
    assertTrue(query.out.contains("WIN32_EXIT_CODE    : 1066  (0x42a)"), query.out);
    assertTrue(query.out.contains("SERVICE_EXIT_CODE  : " + specific + "  (0x" + specific + ")"), query.out);
    assertTrue(install.logTexts().contains(logged), install.logTexts().toString());
  }

  @Test
  void installStartStopAndRemove() throws Exception {
    Install install = install("main").withJre("jre17").properties();
    Result installed = install.ombackup("-install");
    assertEquals(new Result(0, install.display + " installed.\n"), installed);

    Result qc = install.sc("qc");
    assertEquals(0, qc.code, qc.out);
    assertTrue(qc.out.contains("BINARY_PATH_NAME   : \"" + install.windowsPath() + "\\ombackup\" -start\n"), qc.out);
    assertTrue(qc.out.contains("START_TYPE         : 2   AUTO_START"), qc.out);
    assertTrue(qc.out.contains("DISPLAY_NAME       : " + install.display), qc.out);
    assertTrue(qc.out.contains("TYPE               : 10  WIN32_OWN_PROCESS"), qc.out);

    Result started = install.sc("start", "-trace");
    assertEquals(0, started.code, started.out);
    install.awaitState(4);
    assertEquals(List.of("main " + install.name + "|-trace", "hook set"), install.events());

    Result stop = install.sc("stop");
    assertEquals(0, stop.code, stop.out);
    assertTrue(stop.out.contains("STATE              : 3  STOP_PENDING") || stop.out.contains("1  STOPPED"), stop.out);
    install.awaitState(1);
    assertEquals("0", install.awaitExitCode());
    assertEquals(List.of("main " + install.name + "|-trace", "hook set", "Stop", "Stopped"), install.events());

    List<Status> reports = install.reports();
    assertEquals(List.of(
        new Status(2, 0, 0, 0, 1, 3000),
        new Status(2, 0, 0, 0, 2, 3000),
        new Status(4, 1, 0, 0, 0, 0),
        new Status(3, 1, 0, 0, 3, 20000),
        new Status(3, 1, 0, 0, 4, 20000),
        new Status(1, 1, 0, 0, 0, 0)), reports);

    String output = install.output();
    assertNoJniWarnings(output);
    assertTrue(output.contains("VM arguments:\n-Djava.class.path=" + install.dir + "/lib/agent.jar\n"
        + "-Djava.library.path=" + install.dir + "/\n-Xmx128m\n-Dsun.net.inetaddr.ttl=300\n-Xcheck:jni\n"), output);
    assertFalse(output.contains("java.ext.dirs"), output);
    assertTrue(output.contains("VM DLL = " + install.windowsPath() + "\\omjre\\jre17\\bin\\server\\jvm.dll\n"), output);
    assertTrue(output.contains("JRE HOME = " + install.windowsPath() + "\\omjre\\jre17\n"), output);
    assertTrue(output.contains("Sample agent started as \"" + install.name + "\" with 2 argument(s)"), output);

    List<String> texts = install.logTexts();
    assertEquals(2, texts.stream().filter("Message: Backup service wrapper started"::equals).count(), texts.toString());
    for (String expected : List.of("Trace: In setupInvoker", "Trace: Attempting to find JRE", "Trace: Setting classpath",
        "Trace: In start", "Trace: Invoking service", "Debug: Registered shutdown notification callback",
        "Trace: Waiting for stop event...", "Trace: Received stop event", "Trace: Exit start", "Trace: In stop",
        "Trace: Calling invoker stop", "Message: Java VM ended", "Debug: Invoker Stopped", "Trace: Notifying SCM",
        "Trace: In service destructor")) {
      assertTrue(texts.contains(expected), expected + " in " + texts);
    }
    assertTrue(texts.indexOf("Trace: Invoking service") < texts.indexOf("Trace: Waiting for stop event..."));
    assertFalse(texts.stream().anyMatch(t -> t.startsWith("Error")), texts.toString());

    Result removed = install.ombackup("-uninstall");
    assertEquals(new Result(0, install.display + " removed.\n"), removed);
    Result gone = install.sc("query");
    assertTrue(gone.out.contains("[SC] OpenService FAILED 1060:\n\nThe specified service does not exist as an "
        + "installed service."), gone.out);
  }

  @Test
  void hostedAgentAnswersTheTrayMonitor() throws Exception {
    int port;
    try (java.net.ServerSocket probe = new java.net.ServerSocket(0)) {
      port = probe.getLocalPort();
    }
    Install install = install("tray").withJre("jre17").properties();
    Files.write(install.dir.resolve("ombackup.properties"), List.of("service.port=" + port));
    install.installAndStart(4);
    long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(30);
    while (!install.events().contains("tray protocol on port " + port) && System.nanoTime() < end) Thread.sleep(50);
    assertTrue(install.events().contains("tray protocol on port " + port), install.events().toString());

    // The tray's exchange: prompt, "MONITOR" CR LF, acknowledgement, then the
    // client-version request (34, an argument byte) answered by a CR LF-terminated text.
    try (java.net.Socket tray = new java.net.Socket("127.0.0.1", port)) {
      tray.setSoTimeout(5000);
      var in = tray.getInputStream();
      var out = tray.getOutputStream();
      StringBuilder prompt = new StringBuilder();
      for (int c; (c = in.read()) != '>';) {
        assertTrue(c >= 0, "connection closed before the prompt: " + prompt);
        prompt.append((char) c);
      }
      out.write("MONITOR\r\n".getBytes(StandardCharsets.US_ASCII));
      out.flush();
      assertEquals(1, in.read());
      out.write(new byte[] {34, 0});
      out.flush();
      StringBuilder version = new StringBuilder();
      for (int c; (c = in.read()) != '\n';) {
        assertTrue(c >= 0, "connection closed in the version reply: " + version);
        version.append((char) c);
      }
      assertEquals("1.0.0\r", version.toString());
      out.write(99);
      out.flush();
    }
    install.sc("stop");
    install.awaitState(1);
    install.ombackup("-uninstall");
  }

  @Test
  void javaReportsItsOwnShutdown() throws Exception {
    Install install = install("notify").withJre("jre17").properties().agent("mode=notify", "notifyDelay=300");
    install.installAndStart(1);
    assertEquals("0", install.awaitExitCode());
    List<Status> reports = install.reports();
    List<Status> stopped = reports.stream().filter(s -> s.state == 1).collect(Collectors.toList());
    assertEquals(List.of(new Status(1, 1, 0, 0, 0, 0)), stopped, reports.toString());
    List<String> events = install.events();
    assertTrue(events.contains("shutdownNotification own"), events.toString());
    assertFalse(events.contains("Stop"), events.toString());
    assertNoJniWarnings(install.output());
    assertEquals(new Result(0, install.display + " removed.\n"), install.ombackup("-remove"));
  }

  @Test
  void notificationsDuringTheStartEndItCleanly() throws Exception {
    // Two notifications from inside addShutdownNotificationHook: the service
    // never reports running, Stop is called, and stopped is reported once.
    Install install = install("hooknotify").withJre("jre17").properties().agent("mode=notify-in-hook");
    install.installAndStart(1);
    assertEquals("0", install.awaitExitCode());
    List<Status> reports = install.reports();
    assertForwardOnly(reports);
    assertEquals(List.of(new Status(1, 1, 0, 0, 0, 0)),
        reports.stream().filter(s -> s.state == 1 || s.state == 4).collect(Collectors.toList()), reports.toString());
    assertTrue(install.sc("query").out.contains("WIN32_EXIT_CODE    : 0  (0x0)"));
    assertEquals(List.of("main " + install.name, "hook set", "shutdownNotification in hook",
        "shutdownNotification returned", "Stop", "Stopped"), install.events());
    assertNoJniWarnings(install.output());
    install.ombackup("-uninstall");
  }

  @Test
  void systemExitIsLoggedAndReported() throws Exception {
    Install install = install("exit").withJre("jre17").properties().agent("mode=exit", "exitCode=3", "exitDelay=200");
    install.installAndStart(1);
    install.awaitExitCode();
    List<Status> reports = install.reports();
    assertForwardOnly(reports);
    assertEquals(new Status(1, 1, 1066, 3, 0, 0), reports.get(reports.size() - 1), reports.toString());
    Result query = install.sc("query");
    assertTrue(query.out.contains("WIN32_EXIT_CODE    : 1066  (0x42a)"), query.out);
    assertTrue(query.out.contains("SERVICE_EXIT_CODE  : 3  (0x3)"), query.out);
    assertTrue(install.logTexts().contains("Error: Java VM exited with code 3"), install.logTexts().toString());
    assertTrue(install.events().contains("exit 3"), install.events().toString());
    install.ombackup("-uninstall");
  }

  @Test
  void aThreadTheAgentLeavesRunningDoesNotKeepTheServiceStopping() throws Exception {
    Install install = install("leftthread").withJre("jre17").properties().agent("leaveThread=true");
    install.installAndStart(4);
    assertEquals(0, install.sc("stop").code);
    install.awaitState(1);
    assertEquals("0", install.awaitExitCode());
    List<Status> reports = install.reports();
    assertForwardOnly(reports);
    assertEquals(1, reports.stream().filter(s -> s.state == 1).count(), reports.toString());
    assertTrue(reports.stream().noneMatch(s -> s.state == 3 && s.waitHint == 0), reports.toString());
    assertTrue(install.logTexts().contains("Error: Java VM did not end within 20 s; stopping anyway"),
        install.logTexts().toString());
    install.ombackup("-uninstall");
  }

  @Test
  void aWrongHandleIsIgnored() throws Exception {
    Install install = install("wrong").withJre("jre17").properties().agent("mode=notify-wrong", "notifyDelay=100");
    install.installAndStart(4);
    long end = System.nanoTime() + TimeUnit.SECONDS.toNanos(30);
    while (!install.events().contains("shutdownNotification returned") && System.nanoTime() < end) Thread.sleep(20);
    assertTrue(install.events().contains("shutdownNotification wrong"), install.events().toString());
    assertEquals(4, install.state());
    assertEquals(0, install.sc("stop").code);
    install.awaitState(1);
    assertEquals("0", install.awaitExitCode());
    assertTrue(install.events().contains("Stop"), install.events().toString());
    assertEquals(1, install.reports().stream().filter(s -> s.state == 1).count());
    install.ombackup("-uninstall");
  }

  @Test
  void removingARunningServiceStopsItFirst() throws Exception {
    Install install = install("remove").withJre("jre17").properties().agent("stopDelay=1500");
    install.installAndStart(4);
    Result removed = install.ombackup("-uninstall");
    assertEquals(0, removed.code);
    assertTrue(Pattern.matches(Pattern.quote("Stopping " + install.display + ".") + "\\.+\n"
        + Pattern.quote(install.display + " stopped.\n" + install.display + " removed.\n"), removed.out),
        removed.out);
    assertTrue(install.sc("query").out.contains("FAILED 1060"));
  }

  @Test
  void removingAServiceStuckStoppingGivesUpAndLeavesItMarked() throws Exception {
    Install install = install("stuck").withJre("jre17").properties().agent("stopDelay=600000");
    install.installAndStart(4);
    Result removed = install.ombackup("-uninstall");
    assertEquals(1, removed.code, removed.out);
    assertTrue(Pattern.matches(Pattern.quote("Stopping " + install.display + ".") + "\\.+\n"
        + Pattern.quote(install.display + " has not stopped; it is removed once it stops.\n"), removed.out),
        removed.out);
    assertEquals(3, install.state());
    // It goes once its process has ended.
    String[] status = read(install.serviceFolder().resolve("status")).trim().split(" ");
    ProcessHandle.of(Long.parseLong(status[6])).ifPresent(ProcessHandle::destroyForcibly);
    install.awaitExitCode();
    assertTrue(install.sc("query").out.contains("FAILED 1060"));
  }

  @Test
  void noRuntimeContainer() throws Exception {
    Install install = install("nojre").properties();
    assertStartFails(install, 2, "Error: Java container directory not found: " + install.windowsPath() + "\\omjre");
    assertTrue(install.logTexts().contains("Error: Could not find JRE home"), install.logTexts().toString());
    assertTrue(install.output().contains("Could not find a valid JVM to use: Java container directory not found: "),
        install.output());
    install.ombackup("-uninstall");
  }

  @Test
  void emptyRuntimeContainer() throws Exception {
    Install install = install("emptyjre").properties();
    Files.createDirectories(install.dir.resolve("omjre"));
    assertStartFails(install, 2, "Error: Java container directory don't seem to have any JRE directories.");
    install.ombackup("-uninstall");
  }

  @Test
  void missingMainClass() throws Exception {
    Install install = install("nomain").withJre("jre17").properties("main-class=com.example.Missing");
    assertStartFails(install, 2, "Error: Exception occurred while searching for main class");
    assertTrue(install.output().contains("java.lang.NoClassDefFoundError: com/example/Missing"), install.output());
    assertNoJniWarnings(install.output());
    install.ombackup("-uninstall");
  }

  @Test
  void throwingMain() throws Exception {
    Install install = install("throw").withJre("jre17").properties().agent("mode=throw");
    assertStartFails(install, 2, "Error: Exception occurred while invokin main method");
    assertTrue(install.output().contains("java.lang.IllegalStateException: sample agent refused to start"),
        install.output());
    assertNoJniWarnings(install.output());
    install.ombackup("-uninstall");
  }

  @Test
  void extensionFoldersOnlyForTheJava8Layout() throws Exception {
    // A runtime folder with lib\ext reads as Java 8 and gets -Djava.ext.dirs; a
    // Java 17 runtime refuses that option, so this start fails where the plain
    // jre17 layout of the other tests starts.
    Install install = install("java8layout").withJre("jre17").properties();
    Files.createDirectories(install.dir.resolve("omjre/jre17/lib/ext"));
    assertStartFails(install, 2, "Error: Could not create java VM");
    String output = install.output();
    assertTrue(output.contains("-Djava.ext.dirs=" + install.dir + "/omjre/jre17/lib:" + install.dir
        + "/omjre/jre17/lib/ext\n"), output);
    install.ombackup("-uninstall");
  }

  @Test
  void runtimeEndingTheProcessWhileCreatingStillEndsTheStart() throws Exception {
    // The runtime ends the process itself on some option errors (an initial
    // heap above the maximum: exit code 1); the host still logs and reports the
    // failed start first.
    Install install = install("vmexit").withJre("jre17").properties("extra-params=-Xms4g");
    assertStartFails(install, 2, "Error: Could not create java VM", "1");
    install.ombackup("-uninstall");
  }

  @Test
  void noInvokerEndsWithCodeOneAndAnEventLogReport() throws Exception {
    Install install = install("noinvoker").withJre("jre17").properties("working-dir=C:\\no\\such\\folder");
    assertStartFails(install, 1, "Error: Could not set working dir: C:\\no\\such\\folder");
    assertTrue(eventLog().contains(install.name + "\t1\t0\t0x20000001\tS-1-22-1-" + uid() + "\tinvocation failed"),
        eventLog().toString());
    install.ombackup("-uninstall");
  }

  @Test
  void usageTextAndConsoleStart() throws Exception {
    Install install = install("usage").properties();
    assertEquals(new Result(0, USAGE), install.ombackup());
    assertEquals(new Result(0, USAGE), install.ombackup("install"));
    assertEquals(new Result(0, USAGE), install.ombackup("-bogus"));
    Result console = install.ombackup("-start");
    assertEquals(1, console.code, console.out);
    assertTrue(eventLog().contains(install.name + "\t1\t0\t0x20000001\tS-1-22-1-" + uid()
        + "\tStartServiceCtrlDispatcher failed."), eventLog().toString());
    Path key = ROOT.resolve("registry/HKEY_LOCAL_MACHINE/k.SYSTEM/k.CurrentControlSet/k.Services/k.Eventlog"
        + "/k.Application/k." + install.name);
    assertTrue(Files.isDirectory(key), key.toString());
  }

  @Test
  void consoleRunStartsTheAgentWithTheProgramsOwnArguments() throws Exception {
    Install install = install("debug").withJre("jre17").properties();
    String program = install.dir.resolve("ombackup").toString();
    Process process = new ProcessBuilder(program, "-debug").redirectErrorStream(true).start();
    StringBuilder out = new StringBuilder();
    try (var reader = new java.io.BufferedReader(
        new java.io.InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8))) {
      String line;
      while ((line = reader.readLine()) != null) {
        out.append(line).append('\n');
        if (line.equals("Service started, press Control-C to exit...")) break;
      }
      assertTrue(out.toString().endsWith("Service started, press Control-C to exit...\n"), out.toString());
      // It keeps running until it is ended; no hook, no status reports.
      assertTrue(process.isAlive());
      assertEquals(List.of("main " + program + "|-debug"), install.events());
      assertFalse(Files.exists(install.serviceFolder()), "no service state for a console run");
    } finally {
      process.destroy();
      assertTrue(process.waitFor(30, TimeUnit.SECONDS));
    }
    assertNoJniWarnings(out.toString());
    assertTrue(out.toString().contains("Sample agent started as \"" + program + "\" with 2 argument(s)"),
        out.toString());
    List<String> texts = install.logTexts();
    assertEquals(List.of("Message: Backup service wrapper started"), texts);
  }

  @Test
  void consoleRunWithoutARuntimeEndsWithOne() throws Exception {
    Install install = install("debugnojre").properties();
    Result result = install.ombackup("-debug");
    assertEquals(1, result.code, result.out);
    assertTrue(result.out.endsWith("Invoker failed\n"), result.out);
    assertTrue(result.out.contains("Could not find a valid JVM to use: Java container directory not found: "),
        result.out);
    assertTrue(install.logTexts().contains("Error: Could not find JRE home"), install.logTexts().toString());

    Install noInvoker = install("debugnodir").properties("working-dir=C:\\no\\such\\folder");
    Result none = noInvoker.ombackup("-debug");
    assertEquals(1, none.code, none.out);
    assertFalse(none.out.contains("Invoker failed"), none.out);
  }

  @Test
  void programPathLongerThanMaxPath() throws Exception {
    // The program's path is read whole: the install command line, the
    // service.properties and the log beside the program.
    Install install = install("long", "a".repeat(200) + "/" + "b".repeat(200) + "/" + "c".repeat(200)).properties();
    assertTrue(install.windowsPath().length() > 600, install.windowsPath());
    assertEquals(new Result(0, install.display + " installed.\n"), install.ombackup("-install"));
    Result qc = install.sc("qc");
    assertTrue(qc.out.contains("BINARY_PATH_NAME   : \"" + install.windowsPath() + "\\ombackup\" -start\n"), qc.out);
    Result console = install.ombackup("-debug");
    assertEquals(1, console.code, console.out);
    assertTrue(install.logTexts().contains("Error: Could not find JRE home"), install.logTexts().toString());
    assertEquals(new Result(0, install.display + " removed.\n"), install.ombackup("-uninstall"));
  }

  @Test
  void defaultsWithoutServiceProperties() throws Exception {
    Install install = install("defaults");
    assertEquals(new Result(0, "Ombrel Pro Service installed.\n"), install.ombackup("/INSTALL"));
    Result twice = install.ombackup("-Install");
    assertEquals(new Result(0, "CreateService failed - The specified service already exists. (0x431)\n"), twice);
    Result qc = run(List.of(BIN.resolve("om-sc").toString(), "qc", "OmBackup Service"));
    assertTrue(qc.out.contains("DISPLAY_NAME       : Ombrel Pro Service"), qc.out);
    assertEquals(new Result(0, "Ombrel Pro Service removed.\n"), install.ombackup("/remove"));
    assertEquals(new Result(0, "OpenService failed - The specified service does not exist as an installed service."
        + " (0x424)\n"), install.ombackup("-uninstall"));
  }
}
