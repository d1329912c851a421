// Stand-in specifics that have no Windows counterpart: how Windows paths map onto
// the host, and that the registry is shared between processes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/internal.h"
#include "platform/testing/temp_folder.h"
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
  EXPECT_TRUE(wildcardMatch("caf?.txt", "caf\xC3\xA9.txt"));  // "?" is one UTF-16 unit, not one byte
  EXPECT_TRUE(wildcardMatch("CAF\xC3\x89.*", "caf\xC3\xA9.txt"));
  // "?" before a '.' or at the end may stand for nothing; "*" before a '.' stops at the last one.
  EXPECT_TRUE(wildcardMatch("abc.???", "abc"));
  EXPECT_TRUE(wildcardMatch("x??", "x"));
  EXPECT_TRUE(wildcardMatch("??.txt", "a.txt"));
  EXPECT_FALSE(wildcardMatch("*.txt", "a.txt.bak"));
  EXPECT_TRUE(wildcardMatch("*.b", "a.b.b"));
  // An expression as the file system takes it: nothing translated.
  EXPECT_FALSE(om::standin::expressionMatch("*.*", "noext"));
  EXPECT_TRUE(om::standin::expressionMatch("<\"*", "noext"));
  // Many stars against a long name that almost matches: a bounded walk, not one per way to split it.
  EXPECT_FALSE(wildcardMatch("*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", std::string(250, 'a')));
}

// Names go to host bytes and back unchanged, whatever UTF-16 they hold; valid
// UTF-16 is plain UTF-8 there, as the host's own files are named.
TEST(StandinNames, EveryUtf16NameComesBack) {
  using om::standin::narrow;
  using om::standin::widen;
  EXPECT_EQ(narrow(u"caf\u00E9\U0001F600"), "caf\xC3\xA9\xF0\x9F\x98\x80");
  const std::u16string names[] = {u"a", std::u16string(1, 0xD800), std::u16string(1, 0xDC00),
                                  std::u16string{0xDC00, 0xD800}, std::u16string{'x', 0xDBFF}, u"\uFFFD",
                                  u"\u00E9", std::u16string{0xDCC3, 0xDCA9},  // "é" and the bytes that spell it
                                  std::u16string{0xDCED, 0xDCA0, 0xDC80}};    // and those of U+D800
  for (const auto& name : names) EXPECT_EQ(widen(narrow(name)), name);
  for (const auto& a : names) {
    for (const auto& b : names) {
      if (a != b) {
        EXPECT_NE(narrow(a), narrow(b));
      }
    }
  }
  // Host bytes that are no UTF-8 come back too, a byte as the unit U+DC00 + byte.
  EXPECT_EQ(widen("bad\xFF"), u"bad\xDCFF");
  for (const std::string bytes : {"h\xFE", "h\xFF", "\xC3", "\xED\xB3\x83\xA9", "\xED\xA0\x80\xFF", "\xED\xB3\xBE"})
    EXPECT_EQ(narrow(widen(bytes)), bytes);
}

// Host files whose names are no UTF-8 are each listed once and open their own file.
TEST(StandinNames, HostNamesThatAreNoUtf8StayApart) {
  om::testing::TempFolder folder;
  folder.write("h\xFE", "1");
  folder.write("h\xFF", "22");
  std::u16string in = om::standin::widen(om::testing::windowsPath(folder.path()) + "\\");
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((in + u"h*").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  std::set<std::u16string> names;
  std::set<DWORD> sizes;
  do {
    names.insert(data.cFileName);
    HANDLE file = CreateFileW((in + data.cFileName).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    sizes.insert(GetFileSize(file, nullptr));
    CloseHandle(file);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  EXPECT_EQ(names.size(), 2u);
  EXPECT_EQ(sizes, (std::set<DWORD>{1, 2}));
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

// ---- the service manager and the event log: several processes, deleted services ----

// Started by the stand-in's manager (which names the service in OM_SERVICE_NAME),
// this program is a service that runs until it is stopped; it never reaches the tests.
namespace busy_service {

SERVICE_STATUS_HANDLE statusHandle;
HANDLE stopEvent;

void report(DWORD state) {
  SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, state, state == SERVICE_RUNNING ? DWORD(SERVICE_ACCEPT_STOP) : 0u,
                        0, 0, 0, 0};
  SetServiceStatus(statusHandle, &status);
}

void WINAPI control(DWORD code) {
  if (code != SERVICE_CONTROL_STOP) return;
  report(SERVICE_STOP_PENDING);
  SetEvent(stopEvent);
}

void WINAPI serviceMain(DWORD, LPSTR* argv) {
  statusHandle = RegisterServiceCtrlHandlerA(argv[0], control);
  report(SERVICE_RUNNING);
  WaitForSingleObject(stopEvent, INFINITE);
  report(SERVICE_STOPPED);
}

[[maybe_unused]] const bool ranAsService = [] {
  const char* name = std::getenv("OM_SERVICE_NAME");
  if (!name) return false;
  std::string own = name;
  stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SERVICE_TABLE_ENTRYA table[] = {{&own[0], serviceMain}, {nullptr, nullptr}};
  _exit(StartServiceCtrlDispatcherA(table) ? 0 : 1);
}();

}  // namespace busy_service

DWORD serviceState(SC_HANDLE service) {
  SERVICE_STATUS status{};
  return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

bool awaitServiceState(SC_HANDLE service, DWORD state) {
  for (int i = 0; i < 1000 && serviceState(service) != state; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return serviceState(service) == state;
}

// Six processes start the same service at once and query it: one start
// succeeds, the others find the service already running, and none of them sees
// it stopped once it has been started.
TEST(StandinServices, StartedAndQueriedFromSeveralProcessesAtOnce) {
  char self[4096];
  DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
  ASSERT_GT(length, 0u);
  std::string command = "\"" + std::string(self, length) + "\"";
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  for (int round = 0; round < 4; ++round) {
    std::string name = "Standin Busy " + std::to_string(round);
    SC_HANDLE service = CreateServiceA(manager, name.c_str(), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr) << GetLastError();
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < 6; ++i) {
      pid_t child = fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        close(gate[1]);
        char go;
        if (read(gate[0], &go, 1) != 0) _exit(9);  // released when the parent closes the gate
        SC_HANDLE own = OpenServiceA(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT), name.c_str(),
                                     SERVICE_ALL_ACCESS);
        if (!own) _exit(2);
        BOOL started = StartServiceA(own, 0, nullptr);
        DWORD error = GetLastError();
        DWORD state = serviceState(own);
        if (state == 0 || state == SERVICE_STOPPED) _exit(3);
        _exit(started ? 0 : error == ERROR_SERVICE_ALREADY_RUNNING ? 1 : 4);
      }
      children.push_back(child);
    }
    close(gate[0]);
    close(gate[1]);
    std::vector<int> outcomes;
    for (pid_t child : children) {
      int status = 0;
      waitpid(child, &status, 0);
      outcomes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), 0), 1) << "round " << round;
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), 1), 5) << "round " << round;
    ASSERT_TRUE(awaitServiceState(service, SERVICE_RUNNING)) << serviceState(service);
    SERVICE_STATUS status{};
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_TRUE(awaitServiceState(service, SERVICE_STOPPED));
    EXPECT_TRUE(DeleteService(service));
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}

// A deleted service stays in the database, stopped or not, until its last handle
// is closed, whichever process looks at it meanwhile.
TEST(StandinServices, DeletedServiceLastsUntilItsLastHandleCloses) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  const char name[] = "Standin Deleted";
  SC_HANDLE service = CreateServiceA(manager, name, nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "C:\\no\\such\\service.exe", nullptr,
                                     nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(service, nullptr) << GetLastError();
  ASSERT_TRUE(DeleteService(service));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    SC_HANDLE other = OpenServiceA(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT), name, SERVICE_QUERY_STATUS);
    _exit(other && CloseServiceHandle(other) ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  DWORD needed = 0;
  EXPECT_FALSE(QueryServiceConfigA(service, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(CreateServiceA(manager, name, nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                           SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "C:\\x.exe", nullptr, nullptr, nullptr, nullptr,
                           nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
  CloseServiceHandle(service);
  EXPECT_EQ(OpenServiceA(manager, name, SERVICE_QUERY_STATUS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  CloseServiceHandle(manager);
}

// A report that counts strings it does not pass is refused, and nothing is logged.
TEST(StandinEventLog, ReportWithACountButNoStringsIsRefused) {
  HANDLE source = RegisterEventSourceA(nullptr, "Standin Source");
  ASSERT_NE(source, nullptr);
  LPCSTR missing[] = {"first", nullptr};
  EXPECT_FALSE(ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 2, 0, missing, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 1, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  DeregisterEventSource(source);
  struct stat st;
  EXPECT_NE(stat((std::string(std::getenv("OM_STANDIN_ROOT")) + "/eventlog/Application.log").c_str(), &st), 0);
}

}  // namespace
