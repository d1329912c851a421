package com.ombrel.systembridge;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;

import com.ombrel.guiutil.DesktopIndicator;
import com.ombrel.guiutil.Win32Util;
import com.ombrel.util.os.rasbridge;
import org.junit.jupiter.api.Test;

/** The window natives on Linux, which has no desktop: no window exists and no indicator is made. */
class IndicatorTest {
    @Test
    void noDesktopMeansNoWindows() {
        DesktopIndicator indicator = new DesktopIndicator();
        indicator.nativeEnable(1, "tip");
        assertEquals(0, indicator.handler());
        indicator.nativeDisable();
        indicator.nativeDisable();
        assertEquals(-1, DesktopIndicator.nativeLoadImage("/bin/sh"));
        DesktopIndicator.nativeFreeImage(-1);
        DesktopIndicator.nativeRestoreWindow();

        assertEquals(0, Win32Util.findWindow("OmbrelBackupWindowClass", "OmbrelBackupWindow"));
        assertEquals(0, Win32Util.findWindow(null, "any"));
        assertThrows(NullPointerException.class, () -> Win32Util.findWindow(null, null));
        assertFalse(Win32Util.sendMessage(1, 1025, 0, 515));
        assertFalse(Win32Util.showWindow(1, 9));

        assertEquals(1, rasbridge.newInstance());
        rasbridge.SetTitle("Ombrel Backup");
        assertEquals(1, rasbridge.newInstance());
        assertThrows(NullPointerException.class, () -> rasbridge.SetTitle(null));
        assertThrows(NullPointerException.class, () -> indicator.nativeEnable(1, null));
        rasbridge.ExecShell("/nonexistent");
    }
}
