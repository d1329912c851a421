// The indicator window, window utilities, dial-up and proxy natives as a Windows
// program on Wine, through the in-process JNI environment: real windows and
// message loops, our rasapi32.dll in place of Wine's, Wine's wininet over the
// registry's proxy settings.
#include <gtest/gtest.h>
#include <jni.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bridge_testing.h"
#include "platform/jni/testing/fake_jni.h"
#include "platform/win32.h"
#include "platform/win32_owners.h"

#include "com_ombrel_agentframework_os_dialup_DialupJNI.h"
#include "com_ombrel_guiutil_DesktopIndicator.h"
#include "com_ombrel_guiutil_Win32Util.h"
#include "com_ombrel_system_Internet.h"
#include "com_ombrel_util_os_rasbridge.h"

namespace {

constexpr char kClass[] = "OmbrelBackupWindowClass";
constexpr char kName[] = "OmbrelBackupWindow";

using bridgetest::shared;

// Waits (bounded) for a condition that another thread brings about.
template <class Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 1000; ++i) {
    if (condition()) return true;
    Sleep(10);
  }
  return condition();
}

int indicatorWindows() {
  int count = 0;
  for (HWND w = FindWindowExA(nullptr, nullptr, kClass, kName); w; w = FindWindowExA(nullptr, w, kClass, kName))
    ++count;
  return count;
}

TEST(IndicatorWindow, LifecycleClicksAndThread) {
  omtest::FakeJni& jni = shared();
  JNIEnv* env = jni.env();
  jclass type = jni.type("com/ombrel/guiutil/DesktopIndicator", {"fireClicked"});
  std::atomic<int> clicks{0};
  auto onClick = [&clicks](const std::string& name, std::vector<std::uint8_t>*) {
    if (name == "fireClicked") ++clicks;
    return 0;
  };
  jobject first = jni.instance(type, onClick);
  jobject second = jni.instance(type, onClick);

  // Disabling one that was never enabled does nothing.
  Java_com_ombrel_guiutil_DesktopIndicator_nativeDisable(env, first);
  EXPECT_EQ(jni.attachedThreads(), 0);
  EXPECT_EQ(indicatorWindows(), 0);

  Java_com_ombrel_guiutil_DesktopIndicator_nativeEnable(env, first, 7, jni.string("tip"));
  ASSERT_FALSE(jni.exceptionPending()) << jni.exceptionText();
  EXPECT_NE(jni.longField(first, "handler"), 0);
  ASSERT_TRUE(eventually([] { return indicatorWindows() == 1; }));
  EXPECT_EQ(jni.attachedThreads(), 1);
  jlong window = Java_com_ombrel_guiutil_Win32Util_findWindow(env, nullptr, jni.string(kClass), jni.string(kName));
  ASSERT_NE(window, 0);
  EXPECT_EQ(reinterpret_cast<HWND>(window), FindWindowA(kClass, nullptr));
  EXPECT_FALSE(IsWindowVisible(reinterpret_cast<HWND>(window)));
  DWORD process = 0;
  GetWindowThreadProcessId(reinterpret_cast<HWND>(window), &process);
  EXPECT_EQ(process, GetCurrentProcessId());

  // Enabling again: one window, one entry; the tooltip is replaced.
  jlong entry = jni.longField(first, "handler");
  Java_com_ombrel_guiutil_DesktopIndicator_nativeEnable(env, first, 8, jni.string("other tip"));
  EXPECT_EQ(jni.longField(first, "handler"), entry);
  // A single click is not a double click; the posted double click reaches fireClicked.
  EXPECT_TRUE(Java_com_ombrel_guiutil_Win32Util_sendMessage(env, nullptr, window, WM_USER + 1, 0, WM_LBUTTONDOWN + 1));
  EXPECT_TRUE(Java_com_ombrel_guiutil_Win32Util_sendMessage(env, nullptr, window, WM_USER + 1, 0, WM_LBUTTONDBLCLK));
  ASSERT_TRUE(eventually([&] { return clicks.load() == 1; }));
  EXPECT_EQ(indicatorWindows(), 1);

  // A second indicator has a window of its own on the same thread.
  Java_com_ombrel_guiutil_DesktopIndicator_nativeEnable(env, second, 1, jni.string("second"));
  ASSERT_TRUE(eventually([] { return indicatorWindows() == 2; }));
  EXPECT_EQ(jni.attachedThreads(), 1);
  Java_com_ombrel_guiutil_DesktopIndicator_nativeDisable(env, first);
  Java_com_ombrel_guiutil_DesktopIndicator_nativeDisable(env, first);  // a second disable posts nothing
  ASSERT_TRUE(eventually([] { return indicatorWindows() == 1; }));
  EXPECT_EQ(jni.longField(first, "handler"), 0);
  EXPECT_EQ(jni.attachedThreads(), 1);

  // The last one gone: no window, the thread has detached and ended.
  Java_com_ombrel_guiutil_DesktopIndicator_nativeDisable(env, second);
  ASSERT_TRUE(eventually([&] { return indicatorWindows() == 0 && jni.attachedThreads() == 0; }));
  EXPECT_EQ(jni.longField(second, "handler"), 0);
  EXPECT_EQ(jni.globalRefs(), 0);

  // A new thread for a later indicator, with the window class already registered.
  Java_com_ombrel_guiutil_DesktopIndicator_nativeEnable(env, first, 7, jni.string("again"));
  ASSERT_TRUE(eventually([] { return indicatorWindows() == 1; }));
  Java_com_ombrel_guiutil_DesktopIndicator_nativeDisable(env, first);
  ASSERT_TRUE(eventually([&] { return indicatorWindows() == 0 && jni.attachedThreads() == 0; }));

  Java_com_ombrel_guiutil_DesktopIndicator_nativeEnable(env, first, 7, nullptr);
  EXPECT_EQ(jni.exceptionText(), "java/lang/NullPointerException: (null)");
  jni.clearException();
  EXPECT_EQ(jni.longField(first, "handler"), 0);
  EXPECT_EQ(jni.openPins(), 0);
}

TEST(IndicatorWindow, ForgedCommandsQuitAndThrowingClicks) {
  omtest::FakeJni& jni = shared();
  JNIEnv* env = jni.env();
  jclass type = jni.type("com/ombrel/guiutil/DesktopIndicator", {"fireClicked"});
  std::atomic<int> clicks{0};
  jobject first = jni.instance(type, [&clicks](const std::string& name, std::vector<std::uint8_t>*) -> jint {
    if (name == "fireClicked" && ++clicks > 0) throw std::runtime_error("java/lang/IllegalStateException: click");
    return 0;
  });
  int references = jni.globalRefs();  // the library's own (classes it keeps)
  Java_com_ombrel_guiutil_DesktopIndicator_nativeEnable(env, first, 1, jni.string("tip"));
  ASSERT_TRUE(eventually([] { return indicatorWindows() == 1; }));
  HWND window = FindWindowA(kClass, kName);
  DWORD thread = GetWindowThreadProcessId(window, nullptr);

  // Commands carrying a pointer the library never queued are ignored.
  ASSERT_TRUE(PostThreadMessageA(thread, WM_USER, 3, 0x1234));
  ASSERT_TRUE(PostThreadMessageA(thread, WM_USER, 1, 0x1234));
  // A click whose handler throws: the exception is described and cleared, the loop goes on.
  PostMessageA(window, WM_USER + 1, 0, WM_LBUTTONDBLCLK);
  ASSERT_TRUE(eventually([&] { return jni.describedExceptions() == 1; }));
  EXPECT_EQ(clicks.load(), 1);
  EXPECT_EQ(indicatorWindows(), 1);

  // Any process may post WM_QUIT to the window: the loop ends and takes its records along.
  PostMessageA(window, WM_QUIT, 0, 0);
  ASSERT_TRUE(eventually([&] { return indicatorWindows() == 0 && jni.attachedThreads() == 0; }));
  EXPECT_EQ(jni.longField(first, "handler"), 0);
  EXPECT_EQ(jni.globalRefs(), references);

  // The next enable starts a new thread rather than posting to the ended one.
  std::atomic<bool> done{false};
  std::thread enabling([&] {
    Java_com_ombrel_guiutil_DesktopIndicator_nativeEnable(env, first, 2, jni.string("again"));
    done = true;
  });
  bool returned = eventually([&] { return done.load(); });
  if (returned) enabling.join(); else enabling.detach();
  ASSERT_TRUE(returned) << "enabling after WM_QUIT did not return";
  ASSERT_TRUE(eventually([] { return indicatorWindows() == 1; }));
  // The new thread's environment serves its clicks.
  PostMessageA(FindWindowA(kClass, kName), WM_USER + 1, 0, WM_LBUTTONDBLCLK);
  ASSERT_TRUE(eventually([&] { return clicks.load() == 2; }));
  Java_com_ombrel_guiutil_DesktopIndicator_nativeDisable(env, first);
  ASSERT_TRUE(eventually([&] { return indicatorWindows() == 0 && jni.attachedThreads() == 0; }));
  EXPECT_EQ(jni.globalRefs(), references);
  EXPECT_EQ(jni.openPins(), 0);
}

TEST(WindowUtilities, TitleInstanceShowAndIcons) {
  omtest::FakeJni& jni = shared();
  JNIEnv* env = jni.env();
  // No title yet: nothing to find, this is the only instance.
  EXPECT_EQ(Java_com_ombrel_util_os_rasbridge_newInstance(env, nullptr), 1);
  Java_com_ombrel_guiutil_DesktopIndicator_nativeRestoreWindow(env, nullptr);

  std::string title = "Ombrel console " + std::to_string(GetCurrentProcessId());
  Java_com_ombrel_util_os_rasbridge_SetTitle(env, nullptr, jni.string(title));
  EXPECT_EQ(Java_com_ombrel_util_os_rasbridge_newInstance(env, nullptr), 1);
  HWND console = CreateWindowExA(0, "STATIC", title.c_str(), WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr, nullptr,
                                 nullptr, nullptr);
  ASSERT_NE(console, nullptr);
  EXPECT_FALSE(IsWindowVisible(console));
  EXPECT_EQ(Java_com_ombrel_util_os_rasbridge_newInstance(env, nullptr), 0);
  EXPECT_TRUE(IsWindowVisible(console));

  jlong handle = reinterpret_cast<jlong>(console);
  EXPECT_TRUE(Java_com_ombrel_guiutil_Win32Util_showWindow(env, nullptr, handle, SW_HIDE));
  EXPECT_FALSE(Java_com_ombrel_guiutil_Win32Util_showWindow(env, nullptr, handle, SW_HIDE));
  Java_com_ombrel_guiutil_DesktopIndicator_nativeRestoreWindow(env, nullptr);
  EXPECT_TRUE(IsWindowVisible(console));
  EXPECT_EQ(Java_com_ombrel_guiutil_Win32Util_findWindow(env, nullptr, nullptr, jni.string(title)), handle);
  EXPECT_EQ(Java_com_ombrel_guiutil_Win32Util_findWindow(env, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(jni.exceptionText(), "java/lang/NullPointerException: ");
  jni.clearException();
  DestroyWindow(console);
  EXPECT_EQ(Java_com_ombrel_util_os_rasbridge_newInstance(env, nullptr), 1);
  EXPECT_FALSE(Java_com_ombrel_guiutil_Win32Util_sendMessage(env, nullptr, handle, WM_USER + 1, 0, WM_LBUTTONDBLCLK));

  char system[MAX_PATH];
  GetSystemDirectoryA(system, MAX_PATH);
  jint icon = Java_com_ombrel_guiutil_DesktopIndicator_nativeLoadImage(env, nullptr,
                                                                       jni.string(std::string(system) + "\\shell32.dll"));
  EXPECT_NE(icon, -1);
  Java_com_ombrel_guiutil_DesktopIndicator_nativeFreeImage(env, nullptr, icon);
  std::string self = om::moduleFileName();
  EXPECT_EQ(Java_com_ombrel_guiutil_DesktopIndicator_nativeLoadImage(env, nullptr, jni.string(self)), -1);
  std::string text = self + ".missing.txt";
  EXPECT_EQ(Java_com_ombrel_guiutil_DesktopIndicator_nativeLoadImage(env, nullptr, jni.string(text)), -1);
  EXPECT_EQ(jni.openPins(), 0);
}

TEST(WindowUtilities, TitlesBeyondAsciiAndTheBmp) {
  omtest::FakeJni& jni = shared();
  JNIEnv* env = jni.env();
  std::string id = std::to_string(GetCurrentProcessId());
  std::u16string title = u"Konsole \u00fc \U0001F600 " + std::u16string(id.begin(), id.end());
  HWND console = CreateWindowExW(0, L"STATIC", reinterpret_cast<LPCWSTR>(title.c_str()), WS_OVERLAPPEDWINDOW, 10, 10,
                                 200, 100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(console, nullptr);
  EXPECT_EQ(Java_com_ombrel_guiutil_Win32Util_findWindow(env, nullptr, nullptr, jni.string(title)),
            reinterpret_cast<jlong>(console));
  Java_com_ombrel_util_os_rasbridge_SetTitle(env, nullptr, jni.string(title));
  EXPECT_EQ(Java_com_ombrel_util_os_rasbridge_newInstance(env, nullptr), 0);
  EXPECT_TRUE(IsWindowVisible(console));
  // A title holding a zero character is no window's title, not the one before the zero.
  std::u16string longer = title + u'\0' + u"x";
  EXPECT_EQ(Java_com_ombrel_guiutil_Win32Util_findWindow(env, nullptr, nullptr, jni.string(longer)), 0);
  Java_com_ombrel_util_os_rasbridge_SetTitle(env, nullptr, jni.string(longer));
  EXPECT_EQ(Java_com_ombrel_util_os_rasbridge_newInstance(env, nullptr), 1);
  EXPECT_FALSE(jni.exceptionPending());
  DestroyWindow(console);
  EXPECT_EQ(jni.openPins(), 0);
}

TEST(Dialup, ScriptedPhoneBook) {
  omtest::FakeJni& jni = shared();
  JNIEnv* env = jni.env();
  EXPECT_EQ(bridgetest::phoneBook(jni), (std::vector<std::string>{"Office", "Backup-Line", "B\xC3\xBCro"}))
      << jni.exceptionText();

  jobjectArray up = Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasEnumConnections(env, nullptr);
  ASSERT_NE(up, nullptr);
  std::vector<jobject> connections = jni.objectsOf(up);
  ASSERT_EQ(connections.size(), 1u);
  EXPECT_EQ(jni.textOf(static_cast<jstring>(jni.objectField(connections[0], "name"))), "Office");
  EXPECT_EQ(jni.longField(connections[0], "handle"), 4097);

  jlong dialled = Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasDial(env, nullptr, jni.string("Backup-Line"),
                                                                            jni.string("backup"),
                                                                            jni.string("pa55word"));
  ASSERT_GT(dialled, 0);
  EXPECT_EQ(Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasGetConnectStatus(env, nullptr, dialled), 0);
  EXPECT_EQ(Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasGetConnectStatus(env, nullptr, dialled), 0x2000);
  EXPECT_EQ(jni.objectsOf(Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasEnumConnections(env, nullptr)).size(),
            2u);
  EXPECT_EQ(Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasHangUp(env, nullptr, dialled), 0);
  EXPECT_EQ(Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasGetConnectStatus(env, nullptr, dialled), 601);
  EXPECT_EQ(Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasDial(env, nullptr, jni.string("Nowhere"),
                                                                      jni.string("u"), jni.string("p")),
            -23);
  // Not dialled as its look-alike "Office": code page 1252 has no U+014C.
  EXPECT_EQ(Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasDial(env, nullptr, jni.string(u"\u014Cffice"),
                                                                      jni.string("dialer"), jni.string("secret")),
            -1);
  EXPECT_EQ(jni.openPins(), 0);
}

struct InternetSettings {
  om::UniqueHkey key;
  InternetSettings() {
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0, nullptr,
                    0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
  }
  ~InternetSettings() {
    set("ProxyEnable", 0);
    RegDeleteValueA(key.get(), "ProxyServer");
    RegDeleteValueA(key.get(), "ProxyOverride");
  }
  void set(const char* name, DWORD value) {
    RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  }
  void set(const char* name, const std::string& value) {
    RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  }
};

TEST(Proxy, SettingsThroughWininet) {
  omtest::FakeJni& jni = shared();
  JNIEnv* env = jni.env();
  InternetSettings settings;
  ASSERT_TRUE(settings.key);
  settings.set("ProxyEnable", 0);
  EXPECT_EQ(Java_com_ombrel_system_Internet_queryProxyServers(env, nullptr), nullptr);
  EXPECT_EQ(Java_com_ombrel_system_Internet_queryProxyBypass(env, nullptr), nullptr);
  settings.set("ProxyServer", "proxy.example:8080");
  settings.set("ProxyOverride", "<local>");
  settings.set("ProxyEnable", 1);
  jstring servers = Java_com_ombrel_system_Internet_queryProxyServers(env, nullptr);
  ASSERT_NE(servers, nullptr);
  EXPECT_EQ(jni.textOf(servers), "proxy.example:8080");
  jstring bypass = Java_com_ombrel_system_Internet_queryProxyBypass(env, nullptr);
  ASSERT_NE(bypass, nullptr);
  EXPECT_EQ(jni.textOf(bypass), "<local>");
}

}  // namespace
