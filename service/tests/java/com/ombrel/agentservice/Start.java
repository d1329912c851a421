package com.ombrel.agentservice;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;
import java.util.Properties;

/**
 * A small stand-in for the backup agent's main class: what the service host
 * requires of it (main, Stop, addShutdownNotificationHook and the native
 * shutdownNotification) and nothing else. It writes what happens to it to
 * agent-events.log in the working folder; agent.properties there, when present,
 * chooses its behaviour:
 *   mode=run | throw | notify | notify-wrong   (default run)
 *   stopDelay=<ms>  how long Stop takes
 *   notifyDelay=<ms> when notify/notify-wrong calls shutdownNotification
 * When ombackup.properties in the working folder names a "service.port", it
 * answers the tray monitor's protocol there (the tray's test agent).
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
    if (mode.equals("notify") || mode.equals("notify-wrong")) {
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

  private static synchronized void record(String line) {
    try {
      Files.write(EVENTS, (line + "\n").getBytes(StandardCharsets.UTF_8),
          StandardOpenOption.CREATE, StandardOpenOption.APPEND);
    } catch (IOException e) {
      System.out.println("cannot record " + line + ": " + e);
    }
  }
}
