// Stand-in specifics that have no Windows counterpart: how Windows paths map onto
// the host, and that the registry is shared between processes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/posix/internal.h"
#include "platform/win32.h"

namespace {

using om::standin::hostPathFromWindows;
using om::standin::windowsPathFromHost;

TEST(StandinPaths, DriveCIsTheHostRoot) {
  EXPECT_EQ(hostPathFromWindows("C:\\usr\\lib\\x.jar"), "/usr/lib/x.jar");
  EXPECT_EQ(hostPathFromWindows("c:/usr/lib"), "/usr/lib");
  EXPECT_EQ(hostPathFromWindows("\\\\?\\C:\\tmp\\a"), "/tmp/a");
  EXPECT_EQ(hostPathFromWindows("C:\\"), "/");
  EXPECT_EQ(hostPathFromWindows("lib\\a.jar"), "lib/a.jar");
  EXPECT_EQ(windowsPathFromHost("/usr/lib/x.jar"), "C:\\usr\\lib\\x.jar");
  EXPECT_EQ(windowsPathFromHost("/"), "C:\\");
  std::string d = hostPathFromWindows("D:\\data");
  EXPECT_EQ(d, std::string(std::getenv("OM_STANDIN_ROOT")) + "/drives/d/data");
  EXPECT_EQ(windowsPathFromHost(d), "D:\\data");
  EXPECT_EQ(hostPathFromWindows("\\\\?\\GLOBALROOT\\Device\\Unknown\\x"), "");
}

TEST(StandinPaths, DevicePrefixesResolve) {
  om::standin::registerDevicePrefix("GLOBALROOT\\Device\\TestDevice",
                                    [](const std::string& rest) { return "/tmp/device" + std::string(rest); });
  EXPECT_EQ(hostPathFromWindows("\\\\?\\GLOBALROOT\\Device\\TestDevice7\\a"), "/tmp/device7\\a");
}

TEST(StandinPaths, PathListsForTheJvm) {
  EXPECT_EQ(om::hostPathList("C:\\a\\x.jar;C:\\b\\y.jar;"), "/a/x.jar:/b/y.jar");
  EXPECT_EQ(om::hostPath("C:\\App\\lib"), "/App/lib");
}

TEST(StandinPaths, PathVariableIsShownTheWindowsWay) {
  std::string saved = std::getenv("PATH");
  setenv("PATH", "/usr/bin:/bin", 1);
  char buffer[256];
  GetEnvironmentVariableA("PATH", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "C:\\usr\\bin;C:\\bin");
  SetEnvironmentVariableA("PATH", "C:\\usr\\bin;C:\\bin;C:\\App\\omjre\\jre8\\bin");
  EXPECT_STREQ(std::getenv("PATH"), "/usr/bin:/bin:/App/omjre/jre8/bin");
  setenv("PATH", saved.c_str(), 1);
}

TEST(StandinWildcards, WindowsRules) {
  using om::standin::wildcardMatch;
  EXPECT_TRUE(wildcardMatch("*.JAR", "a.jar"));
  EXPECT_TRUE(wildcardMatch("jre*", "jre1.8.0_121"));
  EXPECT_FALSE(wildcardMatch("jre*", "JR"));
  EXPECT_TRUE(wildcardMatch("*.*", "noext"));
  EXPECT_TRUE(wildcardMatch("a?c", "abc"));
  EXPECT_FALSE(wildcardMatch("a?c", "ac"));
  EXPECT_TRUE(wildcardMatch("*a*b*", "xxaxxbxx"));
}

TEST(StandinRegistry, SharedBetweenProcesses) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Shared", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
      _exit(1);
    DWORD value = 0xC0FFEE;
    _exit(RegSetValueExA(key, "FromChild", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4) == 0 ? 0 : 2);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "system\\shared", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD value = 0, size = 4, type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "FromChild", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 0xC0FFEEu);
  RegCloseKey(key);
}

TEST(StandinRegistry, WideAndNarrowStringsAgree) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Text", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  const char utf8[] = "caf\xC3\xA9";
  ASSERT_EQ(RegSetValueExA(key, "Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(utf8), sizeof utf8), 0);
  WCHAR wide[16];
  DWORD size = sizeof wide, type;
  const WCHAR name[] = {'N', 'a', 'm', 'e', 0};
  ASSERT_EQ(RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(wide), &size), 0);
  EXPECT_EQ(size, 10u);  // 4 units and the terminator
  EXPECT_EQ(wide[3], 0xE9);
  RegCloseKey(key);
}

// A directory handle's enumeration cursor goes with the handle.
TEST(StandinNtQueries, DirectoryCursorsEndWithTheirHandles) {
  using QueryDirectory = NTSTATUS(WINAPI*)(HANDLE, HANDLE, PVOID, PVOID, PVOID, PVOID, ULONG, int, BOOLEAN, PVOID,
                                           BOOLEAN);
  auto query = reinterpret_cast<QueryDirectory>(
      reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("ntdll.dll"), "NtQueryDirectoryFile")));
  ASSERT_NE(query, nullptr);
  long before = om::standin::liveDirectoryCursors();
  for (int i = 0; i < 3; ++i) {
    HANDLE folder = CreateFileA("C:\\", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(folder, INVALID_HANDLE_VALUE);
    alignas(8) BYTE buffer[1024];
    BYTE status[16];
    EXPECT_EQ(query(folder, nullptr, nullptr, nullptr, status, buffer, sizeof buffer, 1, TRUE, nullptr, TRUE), 0);
    CloseHandle(folder);
  }
  EXPECT_EQ(om::standin::liveDirectoryCursors(), before);
}

TEST(StandinTime, FileTimesCountFrom1601) {
  EXPECT_EQ(om::standin::fileTimeFromUnix(0, 0), 116444736000000000ULL);
  FILETIME ft = om::standin::toFileTime(116444736000000000ULL);
  SYSTEMTIME st;
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ(st.wYear, 1970);
  EXPECT_EQ(st.wMonth, 1);
  EXPECT_EQ(st.wDay, 1);
  FILETIME back;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &back));
  EXPECT_EQ(back.dwLowDateTime, ft.dwLowDateTime);
  EXPECT_EQ(back.dwHighDateTime, ft.dwHighDateTime);
}

}  // namespace
