package com.ombrel.trayagent;

import java.io.BufferedReader;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.io.OutputStream;
import java.io.OutputStreamWriter;
import java.io.Writer;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

/**
 * A scriptable stand-in for the backup agent's service port, for the tray
 * monitor's tests. It speaks the agent's side of the monitor protocol on one
 * loopback port (prompt, acknowledgement, one reply per request until the end
 * byte 99) and records every byte it receives, per connection.
 *
 * A second loopback port takes control lines, one command per line, each
 * answered with "OK" (plus a value) or "ERR text":
 *
 *   reset                       defaults, empty recording, empty settings
 *   greeting HEX                bytes sent on connect (default "Ombrel backup agent\r\n>")
 *   ack N | ack none            acknowledgement byte, or no answer at all
 *   state N                     reply to 7 (4-byte big-endian)
 *   permission N                reply to 17 (1 byte)
 *   next MILLIS [ID]            reply to 20 (8-byte big-endian, ID and a zero byte when MILLIS > 0)
 *   last MILLIS                 reply to 24
 *   notification STAMP KIND HEX reply to 25 (stamp, kind, byte count, text)
 *   version HEX                 reply to 34 (UTF-8 text; CR LF is added)
 *   setting NAME HEX            value held for 66 (67 from the client also sets values)
 *   reply CODE HEX              raw reply bytes to CODE instead of the above
 *   delay MS                    wait before every reply to a request
 *   slow CODE MS                wait before every reply to CODE
 *   trickle MS                  send replies one byte at a time, MS apart
 *   closemid CODE N             on CODE send only N bytes of the reply, then close
 *   stream CODE MS              on CODE send a reply that never ends: a byte MS apart, no terminator
 *   garbage CODE N              on CODE send N bytes of noise with no terminator (no 0, CR, LF or '>'),
 *                               then nothing more
 *   recorded                    "OK HEX HEX ..." bytes received, one HEX per connection ("-" when none)
 *   settings                    "OK name=HEX ..." values set through 67
 *   freeport                    "OK PORT": a loopback port nothing listens on (just released)
 *   quit                        end the program
 *
 * Start: java com.ombrel.trayagent.TestAgent [--port-file FILE]; the file (or
 * stdout) receives "CONTROLPORT AGENTPORT".
 */
public final class TestAgent {
  private final Object lock = new Object();
  private byte[] greeting;
  private int ack;
  private int state;
  private int permission;
  private long nextMillis;
  private byte[] nextId;
  private long lastMillis;
  private long notifyStamp;
  private int notifyKind;
  private byte[] notifyText;
  private byte[] version;
  private final Map<String, byte[]> settings = new HashMap<>();
  // In name order: assignments of one-shot connections are stored by whichever thread reads first.
  private final Map<String, byte[]> assigned = new java.util.TreeMap<>();
  private final Map<Integer, byte[]> raw = new HashMap<>();
  private int servicePort;
  private int delayMs;
  private int trickleMs;
  private int closeMidCode;
  private int closeMidBytes;
  private final Map<Integer, Integer> streamMs = new HashMap<>();
  private final Map<Integer, Integer> slowMs = new HashMap<>();
  private final Map<Integer, Integer> garbageBytes = new HashMap<>();
  private final List<ByteArrayOutputStream> recordings = new ArrayList<>();
  private final List<Socket> open = new ArrayList<>();

  private TestAgent() {
    reset();
  }

  private void reset() {
    synchronized (lock) {
      greeting = "Ombrel backup agent\r\n>".getBytes(StandardCharsets.US_ASCII);
      ack = 1;
      state = 3;
      permission = 1;
      nextMillis = 0;
      nextId = new byte[0];
      lastMillis = 0;
      notifyStamp = 0;
      notifyKind = 0;
      notifyText = new byte[0];
      version = "1.0.0".getBytes(StandardCharsets.UTF_8);
      settings.clear();
      assigned.clear();
      raw.clear();
      delayMs = 0;
      trickleMs = 0;
      closeMidCode = -1;
      closeMidBytes = 0;
      streamMs.clear();
      slowMs.clear();
      garbageBytes.clear();
      recordings.clear();
      for (Socket s : open) {
        try {
          s.close();
        } catch (IOException ignored) {
          // already gone
        }
      }
      open.clear();
    }
  }

  /**
   * An agent answering the tray protocol on 127.0.0.1:port (0 picks a free port),
   * without a control port: the service host's sample agent serves the tray this way.
   */
  public static TestAgent listen(int port) throws IOException {
    TestAgent agent = new TestAgent();
    ServerSocket service = new ServerSocket(port, 50, InetAddress.getByName("127.0.0.1"));
    agent.servicePort = service.getLocalPort();
    Thread acceptor = new Thread(() -> agent.acceptAgents(service), "agent-accept");
    acceptor.setDaemon(true);
    acceptor.start();
    return agent;
  }

  /** The port the agent answers on. */
  public int servicePort() {
    return servicePort;
  }

  /** A scripting command, as on the control port ("state 5", "version 2.1", ...). */
  public String script(String line) {
    return command(line.trim());
  }

  public static void main(String[] args) throws Exception {
    String portFile = null;
    for (int i = 0; i < args.length; i++) {
      if (args[i].equals("--port-file") && i + 1 < args.length) portFile = args[++i];
    }
    TestAgent agent = new TestAgent();
    InetAddress loopback = InetAddress.getByName("127.0.0.1");
    ServerSocket control = new ServerSocket(0, 50, loopback);
    ServerSocket service = new ServerSocket(0, 50, loopback);
    String ports = control.getLocalPort() + " " + service.getLocalPort() + "\n";
    if (portFile != null) {
      Path tmp = Paths.get(portFile + ".tmp");
      Files.write(tmp, ports.getBytes(StandardCharsets.US_ASCII));
      Files.move(tmp, Paths.get(portFile), java.nio.file.StandardCopyOption.ATOMIC_MOVE);
    } else {
      System.out.print(ports);
      System.out.flush();
    }
    Thread acceptor = new Thread(() -> agent.acceptAgents(service), "agent-accept");
    acceptor.setDaemon(true);
    acceptor.start();
    for (;;) {
      Socket s = control.accept();
      Thread t = new Thread(() -> agent.control(s), "control");
      t.setDaemon(true);
      t.start();
    }
  }

  // --- control port ----------------------------------------------------------

  private void control(Socket s) {
    try (Socket sock = s;
         BufferedReader in = new BufferedReader(new InputStreamReader(sock.getInputStream(), StandardCharsets.UTF_8));
         Writer out = new OutputStreamWriter(sock.getOutputStream(), StandardCharsets.UTF_8)) {
      String line;
      while ((line = in.readLine()) != null) {
        String answer;
        try {
          answer = command(line.trim());
        } catch (RuntimeException e) {
          answer = "ERR " + e;
        }
        out.write(answer + "\n");
        out.flush();
      }
    } catch (IOException ignored) {
      // control client went away
    }
  }

  private String command(String line) {
    String[] a = line.isEmpty() ? new String[0] : line.split(" +");
    if (a.length == 0) return "ERR empty";
    synchronized (lock) {
      switch (a[0]) {
        case "reset": reset(); return "OK";
        case "greeting": greeting = hex(arg(a, 1)); return "OK";
        case "ack": ack = a[1].equals("none") ? -1 : Integer.parseInt(a[1]); return "OK";
        case "state": state = Integer.parseInt(a[1]); return "OK";
        case "permission": permission = Integer.parseInt(a[1]); return "OK";
        case "next":
          nextMillis = Long.parseLong(a[1]);
          nextId = a.length > 2 ? a[2].getBytes(StandardCharsets.UTF_8) : new byte[0];
          return "OK";
        case "last": lastMillis = Long.parseLong(a[1]); return "OK";
        case "notification":
          notifyStamp = Long.parseLong(a[1]);
          notifyKind = Integer.parseInt(a[2]);
          notifyText = hex(arg(a, 3));
          return "OK";
        case "version": version = hex(arg(a, 1)); return "OK";
        case "setting": settings.put(a[1], hex(arg(a, 2))); return "OK";
        case "reply": raw.put(Integer.parseInt(a[1]), hex(arg(a, 2))); return "OK";
        case "delay": delayMs = Integer.parseInt(a[1]); return "OK";
        case "trickle": trickleMs = Integer.parseInt(a[1]); return "OK";
        case "closemid":
          closeMidCode = Integer.parseInt(a[1]);
          closeMidBytes = Integer.parseInt(a[2]);
          return "OK";
        case "stream": streamMs.put(Integer.parseInt(a[1]), Integer.parseInt(a[2])); return "OK";
        case "slow": slowMs.put(Integer.parseInt(a[1]), Integer.parseInt(a[2])); return "OK";
        case "garbage": garbageBytes.put(Integer.parseInt(a[1]), Integer.parseInt(a[2])); return "OK";
        case "recorded": {
          StringBuilder sb = new StringBuilder("OK");
          for (ByteArrayOutputStream r : recordings) {
            byte[] b = r.toByteArray();
            sb.append(' ').append(b.length == 0 ? "-" : toHex(b));
          }
          return sb.toString();
        }
        case "settings": {
          StringBuilder sb = new StringBuilder("OK");
          for (Map.Entry<String, byte[]> e : assigned.entrySet()) {
            sb.append(' ').append(e.getKey()).append('=').append(toHex(e.getValue()));
          }
          return sb.toString();
        }
        case "freeport":
          try (ServerSocket probe = new ServerSocket(0, 1, InetAddress.getByName("127.0.0.1"))) {
            return "OK " + probe.getLocalPort();
          } catch (IOException e) {
            return "ERR " + e;
          }
        case "quit": System.exit(0); return "OK";
        default: return "ERR unknown command " + a[0];
      }
    }
  }

  private static String arg(String[] a, int i) {
    return a.length > i ? a[i] : "";
  }

  private static byte[] hex(String s) {
    if (s.equals("-")) return new byte[0];
    byte[] b = new byte[s.length() / 2];
    for (int i = 0; i < b.length; i++) b[i] = (byte) Integer.parseInt(s.substring(2 * i, 2 * i + 2), 16);
    return b;
  }

  private static String toHex(byte[] b) {
    StringBuilder sb = new StringBuilder();
    for (byte x : b) sb.append(String.format("%02X", x & 0xFF));
    return sb.toString();
  }

  // --- agent port ------------------------------------------------------------

  private void acceptAgents(ServerSocket service) {
    for (;;) {
      try {
        Socket s = service.accept();
        s.setTcpNoDelay(true);
        ByteArrayOutputStream rec = new ByteArrayOutputStream();
        synchronized (lock) {
          recordings.add(rec);
          open.add(s);
        }
        Thread t = new Thread(() -> serve(s, rec), "agent");
        t.setDaemon(true);
        t.start();
      } catch (IOException e) {
        return;
      }
    }
  }

  /** Reads one byte and records it; -1 at the end of the stream. */
  private int read(InputStream in, ByteArrayOutputStream rec) throws IOException {
    int b = in.read();
    if (b >= 0) {
      synchronized (lock) {
        rec.write(b);
      }
    }
    return b;
  }

  private byte[] readUntil(InputStream in, ByteArrayOutputStream rec, int end) throws IOException {
    ByteArrayOutputStream text = new ByteArrayOutputStream();
    for (;;) {
      int b = read(in, rec);
      if (b < 0) throw new IOException("closed");
      if (b == end) return text.toByteArray();
      text.write(b);
    }
  }

  private void serve(Socket s, ByteArrayOutputStream rec) {
    try (Socket sock = s) {
      InputStream in = sock.getInputStream();
      OutputStream out = sock.getOutputStream();
      byte[] hello;
      int ackByte;
      synchronized (lock) {
        hello = greeting;
        ackByte = ack;
      }
      send(out, hello, false);
      readUntil(in, rec, '\n');  // "MONITOR" CR LF
      if (ackByte < 0) {
        drain(in, rec);
        return;
      }
      send(out, new byte[] {(byte) ackByte}, false);
      if (ackByte != 1) {
        drain(in, rec);
        return;
      }
      for (;;) {
        int code = read(in, rec);
        if (code < 0 || code == 99) return;
        byte[] reply;
        switch (code) {
          case 1:
          case 4:
            continue;
          case 34:
            read(in, rec);
            reply = reply(code);
            break;
          case 66: {
            String name = new String(readUntil(in, rec, 0), StandardCharsets.UTF_8);
            synchronized (lock) {
              byte[] v = settings.get(name);
              reply = raw.containsKey(code) ? raw.get(code) : cat(v == null ? new byte[0] : v, new byte[] {0});
            }
            break;
          }
          case 67: {
            byte[] text = readUntil(in, rec, 0);
            String assignment = new String(text, StandardCharsets.UTF_8);
            int eq = assignment.indexOf('=');
            if (eq >= 0) {
              byte[] value = assignment.substring(eq + 1).getBytes(StandardCharsets.UTF_8);
              synchronized (lock) {
                settings.put(assignment.substring(0, eq), value);
                assigned.put(assignment.substring(0, eq), value);
              }
            }
            continue;
          }
          default:
            reply = reply(code);
            if (reply == null) return;  // unknown request: hang up
        }
        int cut;
        Integer stream;
        Integer garbage;
        int slow;
        synchronized (lock) {
          cut = code == closeMidCode ? closeMidBytes : -1;
          stream = streamMs.get(code);
          garbage = garbageBytes.get(code);
          slow = slowMs.getOrDefault(code, 0);
        }
        sleep(slow);
        if (stream != null) {
          for (;;) {
            send(out, new byte[] {'x'}, false);
            sleep(stream);
          }
        }
        if (garbage != null) {
          send(out, noise(garbage), true);
          continue;
        }
        if (cut >= 0) {
          send(out, java.util.Arrays.copyOf(reply, Math.min(cut, reply.length)), true);
          return;
        }
        send(out, reply, true);
      }
    } catch (IOException ignored) {
      // the client went away
    }
  }

  private byte[] reply(int code) {
    synchronized (lock) {
      if (raw.containsKey(code)) return raw.get(code);
      switch (code) {
        case 7: return int32(state);
        case 17: return new byte[] {(byte) permission};
        case 20: return nextMillis > 0 ? cat(int64(nextMillis), cat(nextId, new byte[] {0})) : int64(nextMillis);
        case 24: return int64(lastMillis);
        case 25: return cat(cat(int64(notifyStamp), int32(notifyKind)), cat(int32(notifyText.length), notifyText));
        case 34: return cat(version, new byte[] {13, 10});
        default: return null;
      }
    }
  }

  private void drain(InputStream in, ByteArrayOutputStream rec) throws IOException {
    while (read(in, rec) >= 0) {
      // record what a refused client still sends
    }
  }

  private void send(OutputStream out, byte[] bytes, boolean delayed) throws IOException {
    int delay;
    int trickle;
    synchronized (lock) {
      delay = delayed ? delayMs : 0;
      trickle = trickleMs;
    }
    sleep(delay);
    if (trickle <= 0) {
      out.write(bytes);
      out.flush();
      return;
    }
    for (byte b : bytes) {
      out.write(b);
      out.flush();
      sleep(trickle);
    }
  }

  private static void sleep(int ms) {
    if (ms <= 0) return;
    try {
      Thread.sleep(ms);
    } catch (InterruptedException e) {
      Thread.currentThread().interrupt();
    }
  }

  private static byte[] noise(int n) {
    byte[] b = new byte[n];
    java.util.Random random = new java.util.Random(n);
    for (int i = 0; i < n; i++) {
      int v;
      do {
        v = random.nextInt(256);
      } while (v == 0 || v == 13 || v == 10 || v == '>');
      b[i] = (byte) v;
    }
    return b;
  }

  private static byte[] cat(byte[] a, byte[] b) {
    byte[] r = java.util.Arrays.copyOf(a, a.length + b.length);
    System.arraycopy(b, 0, r, a.length, b.length);
    return r;
  }

  private static byte[] int32(int v) {
    return new byte[] {(byte) (v >>> 24), (byte) (v >>> 16), (byte) (v >>> 8), (byte) v};
  }

  private static byte[] int64(long v) {
    return cat(int32((int) (v >>> 32)), int32((int) v));
  }
}
