package com.ombrel.systembridge;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.ombrel.agentframework.os.dialup.DialupJNI;
import com.ombrel.agentframework.os.dialup.WinRasEntry;
import com.ombrel.agentframework.os.win32.RegKey;
import com.ombrel.agentframework.os.win32.RegValue;
import com.ombrel.agentframework.os.win32.RegistryApi;
import com.ombrel.system.Internet;
import java.util.Arrays;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/** Dial-up natives on the scripted phone book of the stand-in rasapi32, proxy natives on the registry. */
class DialupProxyTest {
    static final long HKCU = 0x80000001L;
    static final int KEY_ALL_ACCESS = 0xF003F;
    static final int CONNECTED = 0x2000;
    static final int DISCONNECTED = 0x2001;

    @BeforeAll
    static void init() {
        DialupJNI.init();
        RegistryApi.init();
    }

    @Test
    void entriesConnectionsDialAndHangUp() {
        assertArrayEquals(new String[] {"Office", "Backup-Line", "B\u00fcro"}, DialupJNI.RasEnumEntries());

        WinRasEntry[] up = DialupJNI.RasEnumConnections();
        assertEquals(1, up.length);
        assertEquals("Office", up[0].name);
        assertEquals(4097, up[0].handle);
        assertEquals(CONNECTED, DialupJNI.RasGetConnectStatus(4097));

        long connection = DialupJNI.RasDial("Backup-Line", "backup", "pa55word");
        assertTrue(connection > 0, Long.toString(connection));
        assertEquals(0, DialupJNI.RasGetConnectStatus(connection));  // opening the port
        assertEquals(CONNECTED, DialupJNI.RasGetConnectStatus(connection));
        WinRasEntry[] both = DialupJNI.RasEnumConnections();
        assertEquals(2, both.length);
        assertEquals("Backup-Line", both[1].name);
        assertEquals(connection, both[1].handle);

        assertEquals(0, DialupJNI.RasHangUp(connection));
        assertEquals(6, DialupJNI.RasHangUp(connection));  // ERROR_INVALID_HANDLE
        assertEquals(601, DialupJNI.RasGetConnectStatus(connection));
        assertEquals(1, DialupJNI.RasEnumConnections().length);

        // A failed dial is 600 minus the RAS error: no such entry (623). The connection the
        // system handed out before failing is hung up (the stand-in's handles come in turn).
        assertEquals(-23, DialupJNI.RasDial("Nowhere", "u", "p"));
        assertEquals(601, DialupJNI.RasGetConnectStatus(connection + 1));
        // What would reach the system as another entry, user or password is not
        // dialled: longer than its field of 256 bytes (cut), holding a zero
        // (cut there) or a character without an exact form in the code page.
        assertEquals(-23, DialupJNI.RasDial("O".repeat(256), "u", "p"));
        assertEquals(-1, DialupJNI.RasDial("Office" + "x".repeat(300), "dialer", "secret"));
        assertEquals(-1, DialupJNI.RasDial("Office", "dialer" + "x".repeat(300), "secret"));
        assertEquals(-1, DialupJNI.RasDial("Office", "dialer", "secret" + "x".repeat(300)));
        assertEquals(-1, DialupJNI.RasDial("Office", "dialer", "secret\u0000x"));
        assertEquals(-1, DialupJNI.RasDial("Office\uD800", "dialer", "secret"));
        assertEquals(1, DialupJNI.RasEnumConnections().length);
        // Wrong credentials: the dial starts and ends disconnected.
        long refused = DialupJNI.RasDial("Office", "dialer", "wrong");
        assertEquals(DISCONNECTED, DialupJNI.RasGetConnectStatus(refused));
        assertEquals(1, DialupJNI.RasEnumConnections().length);
        assertEquals(0, DialupJNI.RasHangUp(refused));

        // Names and credentials reach the ANSI calls in the system's code page, whole.
        long office = DialupJNI.RasDial("B\u00fcro", "b\u00e4ckup-\uD83D\uDE00", "pass-\uD83D\uDE00");
        assertEquals(0, DialupJNI.RasGetConnectStatus(office));
        assertEquals(CONNECTED, DialupJNI.RasGetConnectStatus(office));
        assertEquals("B\u00fcro", DialupJNI.RasEnumConnections()[1].name);
        assertEquals(0, DialupJNI.RasHangUp(office));

        NullPointerException npe =
                assertThrows(NullPointerException.class, () -> DialupJNI.RasDial(null, "u", "p"));
        assertNull(npe.getMessage());
    }

    private static void setValue(long key, String name, int type, Object value) {
        RegValue v = new RegValue();
        v.name = name;
        v.type = type;
        if (value instanceof Integer) v.dwordVal = (Integer) value;
        else v.stringValue = (String) value;
        RegistryApi.RegSetValueExW(key, v);
    }

    @Test
    void proxySettings() {
        // No settings: direct access.
        assertNull(Internet.queryProxyServers());
        assertNull(Internet.queryProxyBypass());

        RegKey key = RegistryApi.RegCreateKeyEx(HKCU,
                "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0, KEY_ALL_ACCESS);
        try {
            setValue(key.ptr, "ProxyServer", 1, "proxy.example:8080");
            setValue(key.ptr, "ProxyOverride", 1, "<local>;*.lan");
            setValue(key.ptr, "ProxyEnable", 4, 0);
            assertNull(Internet.queryProxyServers());  // configured but switched off
            setValue(key.ptr, "ProxyEnable", 4, 1);
            assertEquals("proxy.example:8080", Internet.queryProxyServers());
            assertEquals("<local>;*.lan", Internet.queryProxyBypass());
            setValue(key.ptr, "ProxyServer", 1, "http=h1:80;https=h2:443");
            assertEquals("http=h1:80;https=h2:443", Internet.queryProxyServers());
            // Beyond ASCII and the BMP: the system's text comes back whole.
            setValue(key.ptr, "ProxyServer", 1, "pr\u00f6xy-\uD83D\uDE00:8080");
            setValue(key.ptr, "ProxyOverride", 1, "*.b\u00fcro");
            assertEquals("pr\u00f6xy-\uD83D\uDE00:8080", Internet.queryProxyServers());
            assertEquals("*.b\u00fcro", Internet.queryProxyBypass());
            // Options that need a session handle are not there without one.
            assertNull(Internet.queryStringValue(41));
        } finally {
            setValue(key.ptr, "ProxyEnable", 4, 0);
            RegistryApi.RegCloseKey(key.ptr);
        }
        assertNull(Internet.queryProxyBypass());
    }
}
