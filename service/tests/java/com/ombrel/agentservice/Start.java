package com.ombrel.agentservice;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;
import java.time.ZonedDateTime;
import java.time.temporal.ChronoUnit;
import java.util.Properties;

/**
 * A small stand-in for the backup agent's main class: what the service host
 * requires of it (main, Stop, addShutdownNotificationHook and the native
 * shutdownNotification) and nothing else. It writes what happens to it to
 * agent-events.log in the working folder; agent.properties there, when present,
 * chooses its behaviour:
 *   mode=run | throw | notify | notify-wrong | notify-in-hook | exit   (default run)
 *   stopDelay=<ms>  how long Stop takes
 *   notifyDelay=<ms> when notify/notify-wrong calls shutdownNotification
 *   (notify-in-hook calls it twice from inside addShutdownNotificationHook)
 *   exitCode=<n>, exitDelay=<ms>  exit: System.exit(n) that long after the hook is set
 *   leaveThread=true  main leaves a thread that is not a daemon running for ever
 * When ombackup.properties in the working folder names a "service.port", it
 * answers the tray monitor's protocol there (the tray's test agent): idle, with
 * a last and a next backup, and a short scripted backup whenever the monitor
 * asks for one.
 */
public final class Start {
  private static final Path EVENTS = Paths.get("agent-events.log");
  private static final Properties SETTINGS = new Properties();
  private static volatile long handle;
  private static volatile boolean running;

  private Start() {}

  static native void shutdownNotification(long handle);

  public static void main(String[] args) throws IOException {
    Path settings = Paths.get("agent.properties");
    if (Files.exists(settings)) {
      try (var in = Files.newInputStream(settings)) {
        SETTINGS.load(in);
      }
    }
    record("main " + String.join("|", args));
    System.out.println("Sample agent started as \"" + (args.length > 0 ? args[0] : "") + "\" with "
        + args.length + " argument(s), Java " + System.getProperty("java.version"));
    System.out.flush();
    if ("throw".equals(mode())) {
      throw new IllegalStateException("sample agent refused to start");
    }
    serveTray();
    running = true;
    Thread worker = new Thread(Start::work, "sample-agent");
    worker.setDaemon(true);
    worker.start();
    if (Boolean.parseBoolean(SETTINGS.getProperty("leaveThread"))) {
      new Thread(() -> sleep(Long.MAX_VALUE), "sample-agent-left-running").start();
    }
  }

  public static void Stop() {
    record("Stop");
    running = false;
    sleep(Long.parseLong(SETTINGS.getProperty("stopDelay", "0")));
    record("Stopped");
  }

  public static void addShutdownNotificationHook(long value) {
    handle = value;
    record("hook " + (value != 0 ? "set" : "zero"));
    String mode = mode();
    if (mode.equals("notify-in-hook")) {
      record("shutdownNotification in hook");
      shutdownNotification(value);
      shutdownNotification(value);
      record("shutdownNotification returned");
    } else if (mode.equals("exit")) {
      int code = Integer.parseInt(SETTINGS.getProperty("exitCode", "0"));
      Thread exiter = new Thread(() -> {
        sleep(Long.parseLong(SETTINGS.getProperty("exitDelay", "0")));
        record("exit " + code);
        System.exit(code);
      }, "sample-agent-exit");
      exiter.setDaemon(true);
      exiter.start();
    } else if (mode.equals("notify") || mode.equals("notify-wrong")) {
      Thread notifier = new Thread(() -> {
        sleep(Long.parseLong(SETTINGS.getProperty("notifyDelay", "500")));
        long given = mode.equals("notify") ? handle : handle + 8;
        record("shutdownNotification " + (given == handle ? "own" : "wrong"));
        shutdownNotification(given);
        record("shutdownNotification returned");
      }, "sample-agent-notifier");
      notifier.setDaemon(true);
      notifier.start();
    }
  }

  private static void serveTray() throws IOException {
    Path file = Paths.get("ombackup.properties");
    if (!Files.exists(file)) return;
    Properties service = new Properties();
    try (var in = Files.newInputStream(file)) {
      service.load(in);
    }
    String port = service.getProperty("service.port");
    if (port == null) return;
    com.ombrel.trayagent.TestAgent tray = com.ombrel.trayagent.TestAgent.listen(Integer.parseInt(port.trim()));
    record("tray protocol on port " + tray.servicePort());
    Thread backups = new Thread(new ScriptedBackup(tray), "sample-agent-backups");
    backups.setDaemon(true);
    backups.start();
  }

  private static String mode() {
    return SETTINGS.getProperty("mode", "run");
  }

  private static void work() {
    while (running) {
      sleep(100);
    }
  }

  private static void sleep(long millis) {
    try {
      Thread.sleep(millis);
    } catch (InterruptedException e) {
      Thread.currentThread().interrupt();
    }
  }

  /**
   * What the agent tells the monitor. Idle (agent state 0), the last backup
   * yesterday and the next one at 21:00. A connection whose first request is
   * "backup now" (code 1) starts a scripted backup: backing up (state 1),
   * updating the local cache (state 4), then a success notification, the last
   * backup now, and idle again. Each step lasts until the monitor has read the
   * state STEP_POLLS times, so a slow monitor still sees every step; the
   * monitor's first read of each state is recorded ("monitor read state N").
   */
  private static final class ScriptedBackup implements Runnable {
    private static final int STEP_POLLS = 12;
    private static final int SUCCESS = 1;
    private static final String BACKUP_NOW_EXCHANGE = hex("MONITOR\r\n".getBytes(StandardCharsets.US_ASCII)) + "01";
    private final com.ombrel.trayagent.TestAgent tray;

    ScriptedBackup(com.ombrel.trayagent.TestAgent tray) {
      this.tray = tray;
      ZonedDateTime now = ZonedDateTime.now();
      ZonedDateTime evening = now.truncatedTo(ChronoUnit.DAYS).withHour(21);
      ZonedDateTime next = evening.isAfter(now) ? evening : evening.plusDays(1);
      script("last " + evening.minusDays(1).toInstant().toEpochMilli());
      script("next " + next.toInstant().toEpochMilli() + " 6b2d1a4e-0000-4000-8000-000000000001");
      script("state 0");
    }

    @Override
    public void run() {
      awaitRead(0);
      int handled = 0;
      for (;;) {
        sleep(100);
        int requests = count(BACKUP_NOW_EXCHANGE);
        if (requests <= handled) continue;
        handled = requests;
        record("backup requested by the monitor");
        step(1, "backing up");
        step(4, "updating the local cache");
        script("last " + System.currentTimeMillis());
        String result = "Backup finished without errors (sample agent)";
        script("notification " + System.currentTimeMillis() + " " + SUCCESS + " "
            + hex(result.getBytes(StandardCharsets.UTF_8)));
        record("backup: finished, notification \"" + result + "\"");
        step(0, "idle");
      }
    }

    private void step(int state, String name) {
      record("backup: " + name);
      script("state " + state);
      long base = awaitRead(state);
      while (statePolls() < base + STEP_POLLS) sleep(100);
    }

    /** Waits for the monitor's next state request; the count before it. */
    private long awaitRead(int state) {
      long base = statePolls();
      while (statePolls() == base) sleep(100);
      record("monitor read state " + state);
      return base;
    }

    /** The monitor's state requests (code 7) so far, over all its connections. */
    private long statePolls() {
      long n = 0;
      for (String connection : recorded()) {
        for (int i = 0; i + 1 < connection.length(); i += 2) {
          if (connection.startsWith("07", i)) n++;
        }
      }
      return n;
    }

    /** Connections whose bytes begin with the given hex text. */
    private int count(String prefix) {
      int n = 0;
      for (String connection : recorded()) {
        if (connection.startsWith(prefix)) n++;
      }
      return n;
    }

    private String[] recorded() {
      String answer = script("recorded");
      return answer.length() > 3 ? answer.substring(3).split(" ") : new String[0];
    }

    private String script(String line) {
      String answer = tray.script(line);
      if (!answer.startsWith("OK")) throw new IllegalStateException(line + ": " + answer);
      return answer;
    }

    private static String hex(byte[] bytes) {
      StringBuilder sb = new StringBuilder();
      for (byte b : bytes) sb.append(String.format("%02X", b & 0xFF));
      return sb.toString();
    }
  }

  private static synchronized void record(String line) {
    try {
      Files.write(EVENTS, (line + "\n").getBytes(StandardCharsets.UTF_8),
          StandardOpenOption.CREATE, StandardOpenOption.APPEND);
    } catch (IOException e) {
      System.out.println("cannot record " + line + ": " + e);
    }
  }
}
