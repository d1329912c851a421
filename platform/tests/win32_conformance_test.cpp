// Win32 behaviour the project relies on, checked on every target: natively this
// tests our stand-in, under Wine the real API, so both must agree.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/testing/temp_folder.h"
#include "platform/win32.h"
#ifdef _WIN32
#include <sddl.h>
#endif

namespace {

std::basic_string<WCHAR> wide(const char* ascii) {
  std::basic_string<WCHAR> out;
  for (; *ascii; ++ascii) out.push_back(static_cast<WCHAR>(*ascii));
  return out;
}

using om::testing::TempFolder;

// A path in `folder` as Windows spells it ("C:\tmp\om-test-1\name" on the stand-in).
std::string winPath(const TempFolder& folder, const std::string& name = std::string()) {
  std::string path = folder.path();
#ifndef _WIN32
  path = "C:" + path;
#endif
  for (auto& c : path)
    if (c == '/') c = '\\';
  return name.empty() ? path : path + "\\" + name;
}

void writeFile(const std::string& path, const std::string& content) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
  CloseHandle(file);
}

// The names a find lists, through the ANSI or the wide calls.
template <class Char, class Data>
std::vector<std::basic_string<Char>> listed(const std::basic_string<Char>& pattern,
                                            HANDLE(WINAPI* first)(const Char*, Data*),
                                            BOOL(WINAPI* next)(HANDLE, Data*)) {
  std::vector<std::basic_string<Char>> names;
  Data data;
  HANDLE find = first(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.push_back(data.cFileName);
  while (next(find, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  FindClose(find);
  return names;
}

std::vector<std::string> listing(const std::string& pattern) { return listed(pattern, FindFirstFileA, FindNextFileA); }

bool contains(const std::vector<std::string>& names, const std::string& name) {
  for (const auto& n : names)
    if (n == name) return true;
  return false;
}

DWORD WINAPI setsItsOwnLastError(LPVOID) {
  SetLastError(77);
  return GetLastError();
}

std::atomic<int> ran{0};

DWORD WINAPI marksRun(LPVOID arg) {
  ran = 1;
  return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(arg));
}

TEST(LastError, IsPerThread) {
  SetLastError(1234);
  HANDLE thread = CreateThread(nullptr, 0, setsItsOwnLastError, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 77u);
  EXPECT_EQ(GetLastError(), 1234u);
  CloseHandle(thread);
  EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7FFF0))));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Waits, ManualAndAutoResetEvents) {
  HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE automatic = CreateEventA(nullptr, FALSE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(manual, 10), WAIT_TIMEOUT);
  SetEvent(manual);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);  // stays signalled
  ResetEvent(manual);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);  // consumed

  HANDLE both[2] = {manual, automatic};
  SetEvent(automatic);
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);
  SetEvent(manual);
  SetEvent(automatic);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
  CloseHandle(manual);
  CloseHandle(automatic);
}

TEST(Threads, SuspendedThreadRunsAfterResume) {
  HANDLE thread = CreateThread(nullptr, 0, marksRun, reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(42)),
                               CREATE_SUSPENDED, nullptr);
  ASSERT_NE(thread, nullptr);
  Sleep(50);
  EXPECT_EQ(ran.load(), 0);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  ResumeThread(thread);
  ASSERT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(ran.load(), 1);
  CloseHandle(thread);
}

TEST(Text, Utf8AndUtf16RoundTrip) {
  const char* text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // a é € 😀
  int units = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  EXPECT_EQ(units, 6);  // a, é, €, surrogate pair, terminator
  std::vector<WCHAR> buffer(units);
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, buffer.data(), units), units);
  EXPECT_EQ(buffer[1], 0xE9);
  EXPECT_EQ(buffer[3], 0xD83D);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, buffer.data(), -1, nullptr, 0, nullptr, nullptr);
  std::string back(bytes, '\0');
  WideCharToMultiByte(CP_UTF8, 0, buffer.data(), -1, &back[0], bytes, nullptr, nullptr);
  EXPECT_STREQ(back.c_str(), text);

  WCHAR small[2];
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, -1, small, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3", 1, small, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

// Wine's texts are shorter than Windows' own; the stand-in carries Windows' texts.
void expectSystemText(const std::string& actual, const char* windowsText) {
  ASSERT_GE(actual.size(), 3u);
  EXPECT_EQ(actual.substr(actual.size() - 2), "\r\n");
#ifndef _WIN32
  EXPECT_EQ(actual, std::string(windowsText) + "\r\n");
#endif
}

TEST(Messages, SystemTextsEndInCrLf) {
  char text[256];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_FILE_NOT_FOUND,
                           MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  ASSERT_GT(n, 2u);
  expectSystemText(std::string(text, n), "The system cannot find the file specified.");
  n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 1060, 0, text,
                     sizeof text, nullptr);
  expectSystemText(std::string(text, n), "The specified service does not exist as an installed service.");

  LPSTR allocated = nullptr;
  n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, ERROR_ACCESS_DENIED, 0, reinterpret_cast<LPSTR>(&allocated), 0, nullptr);
  ASSERT_NE(allocated, nullptr);
  expectSystemText(std::string(allocated, n), "Access is denied.");
  LocalFree(allocated);
}

TEST(Environment, SetGetAndMissing) {
  ASSERT_TRUE(SetEnvironmentVariableA("OM_TEST_VARIABLE", "value one"));
  char buffer[64];
  EXPECT_EQ(GetEnvironmentVariableA("OM_TEST_VARIABLE", buffer, sizeof buffer), 9u);
  EXPECT_STREQ(buffer, "value one");
  EXPECT_EQ(GetEnvironmentVariableA("om_test_variable", buffer, sizeof buffer), 9u);  // names ignore case
  EXPECT_EQ(GetEnvironmentVariableA("OM_TEST_VARIABLE", buffer, 4), 10u);  // size needed, with terminator
  SetEnvironmentVariableA("OM_TEST_VARIABLE", nullptr);
  EXPECT_EQ(GetEnvironmentVariableA("OM_TEST_VARIABLE", buffer, sizeof buffer), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
}

TEST(Files, CreateDispositionsAndErrors) {
  TempFolder folder;
  std::string file = winPath(folder, "data.bin");
  HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  h = CreateFileA(winPath(folder, "missing\\data.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  h = CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(h, "hello world", 11, &done, nullptr));
  EXPECT_EQ(done, 11u);
  LARGE_INTEGER move, position;
  move.QuadPart = 6;
  ASSERT_TRUE(SetFilePointerEx(h, move, &position, FILE_BEGIN));
  char buffer[16] = {};
  ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(std::string(buffer, done), "world");
  ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &done, nullptr));
  EXPECT_EQ(done, 0u);  // end of file is a successful read of nothing
  move.QuadPart = -100;
  EXPECT_FALSE(SetFilePointerEx(h, move, &position, FILE_CURRENT));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(GetFileSize(h, nullptr), 11u);
  CloseHandle(h);

  EXPECT_EQ(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(h);
  h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(GetFileSize(h, nullptr), 0u);  // truncated
  char readBack;
  EXPECT_FALSE(ReadFile(h, &readBack, 1, &done, nullptr));  // not opened for reading
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(h);

  // Folders open only with backup semantics.
  EXPECT_EQ(CreateFileA(winPath(folder).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  h = CreateFileA(winPath(folder).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);

  EXPECT_FALSE(DeleteFileA(winPath(folder).c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_FALSE(DeleteFileA(file.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Files, AttributesAndFolders) {
  TempFolder folder;
  std::string sub = winPath(folder, "sub");
  ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryA(sub.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryA(winPath(folder, "a\\b").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(GetFileAttributesA(sub.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  writeFile(winPath(folder, "f.txt"), "x");
  EXPECT_NE(GetFileAttributesA(winPath(folder, "F.TXT").c_str()), INVALID_FILE_ATTRIBUTES);  // names ignore case
  EXPECT_EQ(GetFileAttributesA(winPath(folder, "none").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  writeFile(winPath(folder, "sub\\inner.txt"), "x");
  EXPECT_FALSE(RemoveDirectoryA(sub.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
}

TEST(Find, WildcardsDotEntriesAndErrors) {
  TempFolder folder;
  for (const char* name : {"a.jar", "b.JAR", "c.txt", "noext", "d.jar.bak"}) writeFile(winPath(folder, name), name);
  CreateDirectoryA(winPath(folder, "x.jar").c_str(), nullptr);

  auto all = listing(winPath(folder, "*"));
  EXPECT_EQ(all.size(), 8u);
  EXPECT_EQ(all[0], ".");
  EXPECT_EQ(all[1], "..");
  auto jars = listing(winPath(folder, "*.jar"));
  EXPECT_EQ(jars.size(), 3u);  // a.jar, b.JAR and the folder x.jar
  EXPECT_TRUE(contains(jars, "b.JAR"));
  EXPECT_FALSE(contains(jars, "d.jar.bak"));
  EXPECT_TRUE(contains(listing(winPath(folder, "*.*")), "noext"));
  EXPECT_EQ(listing(winPath(folder, "?.txt")).size(), 1u);

  WIN32_FIND_DATAA data;
  EXPECT_EQ(FindFirstFileA(winPath(folder, "*.none").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(FindFirstFileA(winPath(folder, "missing\\*").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  HANDLE find = FindFirstFileA(winPath(folder, "c.txt").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_FALSE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  FindClose(find);

  WIN32_FIND_DATAW wdata;
  find = FindFirstFileW(wide(winPath(folder, "X.JAR").c_str()).c_str(), &wdata);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(wdata.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(std::basic_string<WCHAR>(wdata.cFileName), wide("x.jar"));
  FindClose(find);
}

TEST(Folders, CurrentDirectory) {
  TempFolder folder;
  char previous[1024];
  ASSERT_GT(GetCurrentDirectoryA(sizeof previous, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(winPath(folder).c_str()));
  writeFile("relative.txt", "r");
  EXPECT_NE(GetFileAttributesA(winPath(folder, "relative.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  char now[1024];
  GetCurrentDirectoryA(sizeof now, now);
  EXPECT_EQ(GetFileAttributesA(now) & FILE_ATTRIBUTE_DIRECTORY, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_FALSE(SetCurrentDirectoryA(winPath(folder, "missing").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetCurrentDirectoryA(previous);
}

TEST(Registry, KeysValuesAndEnumeration) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  std::string path = "Software\\OmbrelTest" + std::to_string(GetCurrentProcessId());
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (path + "\\Inner").c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  const char text[] = "C:\\Program Files\\x.dll";
  ASSERT_EQ(RegSetValueExA(key, "EventMessageFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
            ERROR_SUCCESS);
  DWORD types = 31;
  ASSERT_EQ(RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), 4),
            ERROR_SUCCESS);
  RegCloseKey(key);

  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (path + "\\INNER").c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExA(key, "eventmessagefile", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, sizeof text);
  char small[4];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExA(key, "EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof text);
  char value[64];
  size = sizeof value;
  ASSERT_EQ(RegQueryValueExA(key, "EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(value), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(value, text);
  DWORD number = 0;
  size = 4;
  ASSERT_EQ(RegQueryValueExA(key, "TypesSupported", nullptr, &type, reinterpret_cast<BYTE*>(&number), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(number, 31u);
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);

  char name[64];
  DWORD nameLength = sizeof name;
  ASSERT_EQ(RegEnumValueA(key, 0, name, &nameLength, nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "EventMessageFile");
  nameLength = sizeof name;
  EXPECT_EQ(RegEnumValueA(key, 2, name, &nameLength, nullptr, &type, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegDeleteValueA(key, "TypesSupported"), ERROR_ACCESS_DENIED);  // opened for reading only
  RegCloseKey(key);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (path + "\\Inner").c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "TypesSupported"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "TypesSupported"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);

  HKEY parent = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &parent), ERROR_SUCCESS);
  nameLength = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(parent, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Inner");
  EXPECT_EQ(nameLength, 5u);
  nameLength = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(parent, 1, name, &nameLength, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegDeleteKeyA(parent, "Inner"), ERROR_SUCCESS);
  RegCloseKey(parent);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

TEST(Modules, LoadAndFileName) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  ASSERT_GT(n, 0u);
  EXPECT_NE(std::string(path, n).find("win32_conformance_test"), std::string::npos);
  EXPECT_EQ(path[1], ':');  // a Windows spelling: drive, colon, backslash
  EXPECT_EQ(path[2], '\\');
  char tiny[4];
  EXPECT_EQ(GetModuleFileNameA(nullptr, tiny, sizeof tiny), 4u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(LoadLibraryA("C:\\no\\such\\module.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

// The calls of the agent side (x64 on Windows): checked natively and under 64-bit
// Wine, not in the 32-bit run of the desktop side.
#if !defined(_WIN32) || defined(_WIN64)

using WideString = std::basic_string<WCHAR>;

WideString wide(const std::string& ascii) { return wide(ascii.c_str()); }

// Under Wine the Windows build meets Wine's API, which differs from Windows in a
// few documented points; those checks name both values (Windows' first).
bool onWine() {
#ifdef _WIN32
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
#else
  return false;
#endif
}
DWORD windowsOr(DWORD windows, DWORD wine) { return onWine() ? wine : windows; }

// ---- file names, attributes and information ---------------------------------

TEST(FileNames, CaseInsensitiveAndCasePreserving) {
  TempFolder folder;
  writeFile(winPath(folder, "w.bin"), "12345");
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(wide(winPath(folder, "W.BIN")).c_str(), GetFileExInfoStandard, &data))
      << GetLastError();
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_EQ(CreateFileA(winPath(folder, "W.Bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  ASSERT_TRUE(CreateDirectoryA(winPath(folder, "Sub").c_str(), nullptr));
  writeFile(winPath(folder, "SUB\\New.TXT"), "x");  // into "Sub", keeping the new name's case
  EXPECT_TRUE(contains(listing(winPath(folder, "sub\\*")), "New.TXT"));
  // A rename that changes only the case renames; Wine keeps the old spelling.
  ASSERT_TRUE(MoveFileExW(wide(winPath(folder, "w.bin")).c_str(), wide(winPath(folder, "W.BIN")).c_str(), 0));
  EXPECT_TRUE(contains(listing(winPath(folder, "*.bin")), onWine() ? "w.bin" : "W.BIN"));
  EXPECT_TRUE(DeleteFileA(winPath(folder, "w.BIN").c_str()));
}

// Every UTF-16 name is its own: names that differ only in a lone surrogate
// (which Windows takes in a name) are two files, each listed back exactly.
std::set<WideString> wideListing(const WideString& pattern) {
  auto names = listed(pattern, FindFirstFileW, FindNextFileW);
  return std::set<WideString>(names.begin(), names.end());
}

TEST(FileNames, LoneSurrogatesKeepNamesApart) {
  TempFolder folder;
  WideString in = wide(winPath(folder)) + WCHAR('\\');
  std::vector<WideString> names = {wide("lone") + WCHAR(0xFFFD) + wide("x.bin"),
                                   wide("lone") + WCHAR(0xD83D) + WCHAR(0xDE00) + wide("x.bin"),  // a pair
                                   wide("lone") + WCHAR(0xE9) + wide("x.bin")};
  if (!onWine()) {  // Wine refuses a name with a lone surrogate (file not found)
    for (const WideString& lone : {WideString(1, 0xD800), WideString(1, 0xDC00), WideString{0xDC00, 0xD800}})
      names.push_back(wide("lone") + lone + wide("x.bin"));
  }
  DWORD size = 0;
  for (const auto& name : names) {
    HANDLE file = CreateFileW((in + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError() << " creating name " << size;
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "0123456789", ++size, &written, nullptr));
    CloseHandle(file);
  }
  EXPECT_EQ(wideListing(in + wide("lone*")), std::set<WideString>(names.begin(), names.end()));
  // "?" stands for one UTF-16 unit; letters match in either case.
  EXPECT_EQ(wideListing(in + wide("LONE?X.BIN")).size(), onWine() ? 2u : 4u);
  EXPECT_EQ(wideListing(in + wide("LONE") + WCHAR(0xC9) + wide("X.*")).size(), 1u);
  size = 0;
  for (const auto& name : names) {
    HANDLE file = CreateFileW((in + name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError() << " opening name " << size;
    EXPECT_EQ(GetFileSize(file, nullptr), ++size);
    CloseHandle(file);
  }
}

// The dots and spaces that end a path's last element are dropped, unless the
// path is given as "\\?\...", which names exactly.
TEST(FileNames, TrailingDotsAndSpacesAreDropped) {
  TempFolder folder;
  WideString in = wide(winPath(folder)) + WCHAR('\\');
  HANDLE file = CreateFileW((in + wide("made.")).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  CloseHandle(file);
  writeFile(winPath(folder, "trail"), "12345");
  for (const char* name : {"trail.", "trail ", "TRAIL. ."}) {
    file = CreateFileW((in + wide(name)).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_EQ(GetFileSize(file, nullptr), 5u);
    CloseHandle(file);
  }
  ASSERT_TRUE(CreateDirectoryW((in + wide("dir ")).c_str(), nullptr)) << GetLastError();
  ASSERT_TRUE(MoveFileExW((in + wide("made")).c_str(), (in + wide("moved..")).c_str(), 0)) << GetLastError();
  ASSERT_TRUE(MoveFileExW((in + wide("moved")).c_str(), (in + wide("Moved ")).c_str(), 0)) << GetLastError();
  EXPECT_TRUE(DeleteFileW((in + wide("trail .")).c_str())) << GetLastError();
  // Only this path reaches the file; it is removed here, as no other can.
  WideString exact = wide("\\\\?\\") + in + wide("exact.");
  CloseHandle(CreateFileW(exact.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  EXPECT_EQ(wideListing(in + wide("*")), (std::set<WideString>{wide("."), wide(".."), wide("dir"), wide("exact."),
                                                                wide(onWine() ? "moved" : "Moved")}));  // Wine keeps the old case
  EXPECT_TRUE(DeleteFileW(exact.c_str())) << GetLastError();
}

// Names compare by the simple upper-case mapping of every script, not Latin
// alone; a letter whose capital is another small letter's stays apart from it.
TEST(FileNames, CaseOfEveryScript) {
  TempFolder folder;
  WideString in = wide(winPath(folder)) + WCHAR('\\');
  const struct {
    WCHAR lower, upper;
  } pairs[] = {{0x0561, 0x0531},   // Armenian
               {0x03AC, 0x0386},   // Greek with tonos
               {0x0491, 0x0490},   // Cyrillic extension
               {0x01CE, 0x01CD},   // Latin Extended-B
               {0x1E01, 0x1E00},   // Latin Extended Additional
               {0x2170, 0x2160},   // Roman numeral
               {0x24D0, 0x24B6},   // circled letter
               {0xFF41, 0xFF21},   // fullwidth Latin
               {0x1F80, 0x1F88}};  // Greek with ypogegrammeni: its simple capital
  for (const auto& pair : pairs) {
    HANDLE file = CreateFileW((in + wide("n") + pair.lower).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(file);
    EXPECT_NE(GetFileAttributesW((in + wide("n") + pair.upper).c_str()), INVALID_FILE_ATTRIBUTES) << pair.upper;
  }
  // Letters whose capital has another small letter stay apart from it.
  const WCHAR apart[][2] = {{0x00B5, 0x039C},   // micro sign, capital mu
                            {0x0131, 0x0049},   // dotless i, I
                            {0x03C2, 0x03A3}};  // final sigma, capital sigma
  for (const auto& pair : apart) {
    for (WCHAR letter : pair) {
      HANDLE file = CreateFileW((in + wide("k") + letter).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
      EXPECT_NE(file, INVALID_HANDLE_VALUE) << GetLastError() << " creating " << letter;
      CloseHandle(file);
    }
  }
}

TEST(FileAttributes, ExtendedDataAndSetting) {
  TempFolder folder;
  std::string file = winPath(folder, "a.bin");
  writeFile(file, "abc");
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(wide(file).c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 3u);
  EXPECT_NE(data.ftLastWriteTime.dwLowDateTime | data.ftLastWriteTime.dwHighDateTime, 0u);
  ASSERT_TRUE(GetFileAttributesExW(wide(winPath(folder)).c_str(), GetFileExInfoStandard, &data));
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  // Windows keeps exactly the bits set; Wine adds the archive bit to every file.
  DWORD wineArchive = onWine() ? DWORD(FILE_ATTRIBUTE_ARCHIVE) : 0;
  struct {
    DWORD set, read;
  } cases[] = {{FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY | wineArchive},
               {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
                FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | wineArchive},
               {FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_ARCHIVE},
               {FILE_ATTRIBUTE_NORMAL, onWine() ? DWORD(FILE_ATTRIBUTE_ARCHIVE) : DWORD(FILE_ATTRIBUTE_NORMAL)}};
  for (const auto& c : cases) {
    ASSERT_TRUE(SetFileAttributesW(wide(file).c_str(), c.set)) << c.set;
    EXPECT_EQ(GetFileAttributesW(wide(file).c_str()), c.read) << c.set;
  }
  struct {
    std::string path;
    GET_FILEEX_INFO_LEVELS level;
    DWORD error;
  } failures[] = {{winPath(folder, "none"), GetFileExInfoStandard, ERROR_FILE_NOT_FOUND},
                  {winPath(folder, "none\\x"), GetFileExInfoStandard, ERROR_PATH_NOT_FOUND},
                  {file, GetFileExMaxInfoLevel, ERROR_INVALID_PARAMETER}};
  for (const auto& f : failures) {
    EXPECT_FALSE(GetFileAttributesExW(wide(f.path).c_str(), f.level, &data)) << f.path;
    EXPECT_EQ(GetLastError(), f.error) << f.path;
  }
  EXPECT_FALSE(SetFileAttributesW(wide(winPath(folder, "none")).c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// A '.' that ends a pattern or stands before a "*" also matches the end of a
// name without one: "*." finds the names without an extension (Wine takes it
// as the pattern without the dot); "*.*" and "*.*.*" find every name.
TEST(Find, PatternsEndingInADot) {
  TempFolder folder;
  for (const char* name : {".hidden", "a.b.c", "ab.txtx", "abc", "abc.txt", "noext2", "x", "xy", "xyz.d"})
    writeFile(winPath(folder, name), name);
  auto names = [&](const char* pattern) {
    auto found = listing(winPath(folder, pattern));
    return std::set<std::string>(found.begin(), found.end());
  };
  EXPECT_EQ(names("*"), (std::set<std::string>{".", "..", ".hidden", "a.b.c", "ab.txtx", "abc", "abc.txt", "noext2",
                                                "x", "xy", "xyz.d"}));
  EXPECT_EQ(names("*."), onWine() ? names("*") : (std::set<std::string>{".", "..", "abc", "noext2", "x", "xy"}));
  EXPECT_EQ(names("*.*"), names("*"));
  EXPECT_EQ(names("*.*.*"), names("*"));
}

TEST(Find, ExtendedLevelsSearchOperationsAndFlags) {
  TempFolder folder;
  writeFile(winPath(folder, "file.txt"), "x");
  WideString pattern = wide(winPath(folder, "*.txt"));
  constexpr DWORD kOnDiskEntriesOnly = 4;  // FIND_FIRST_EX_ON_DISK_ENTRIES_ONLY
  // Wine takes unknown flags and a search filter; Windows refuses both.
  DWORD refusedOnWindows = windowsOr(ERROR_INVALID_PARAMETER, 0);
  struct {
    FINDEX_INFO_LEVELS level;
    FINDEX_SEARCH_OPS op;
    DWORD flags;
    bool filter;
    DWORD error;
  } cases[] = {{FindExInfoStandard, FindExSearchNameMatch, 0, false, 0},
               {FindExInfoBasic, FindExSearchNameMatch, 0, false, 0},
               {FindExInfoStandard, FindExSearchLimitToDirectories, 0, false, 0},  // advisory only
               {FindExInfoStandard, FindExSearchNameMatch, FIND_FIRST_EX_CASE_SENSITIVE, false, 0},
               {FindExInfoStandard, FindExSearchNameMatch, FIND_FIRST_EX_LARGE_FETCH, false, 0},
               {FindExInfoStandard, FindExSearchNameMatch, kOnDiskEntriesOnly, false, 0},
               {FindExInfoMaxInfoLevel, FindExSearchNameMatch, 0, false, ERROR_INVALID_PARAMETER},
               {FindExInfoStandard, FindExSearchLimitToDevices, 0, false, ERROR_INVALID_PARAMETER},
               {FindExInfoStandard, FindExSearchNameMatch, 0x80, false, refusedOnWindows},
               {FindExInfoStandard, FindExSearchNameMatch, 0, true, refusedOnWindows}};
  for (const auto& c : cases) {
    WIN32_FIND_DATAW data;
    std::memset(&data, 0x55, sizeof data);
    HANDLE find = FindFirstFileExW(pattern.c_str(), c.level, &data, c.op, c.filter ? &data : nullptr, c.flags);
    SCOPED_TRACE(testing::Message() << c.level << " " << c.op << " " << c.flags << " " << c.filter);
    if (c.error) {
      EXPECT_EQ(find, INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), c.error);
      continue;
    }
    ASSERT_NE(find, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_EQ(WideString(data.cFileName), wide("file.txt"));
    if (c.level == FindExInfoBasic) {
      EXPECT_EQ(data.cAlternateFileName[0], 0);
    }
    FindClose(find);
  }
}

TEST(FileSecurity, TwoCallProtocolAndParts) {
  TempFolder folder;
  WideString file = wide(winPath(folder, "s.bin"));
  writeFile(winPath(folder, "s.bin"), "x");
  DWORD needed = 0;
  SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  EXPECT_FALSE(GetFileSecurityW(file.c_str(), parts, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_GT(needed, sizeof(SECURITY_DESCRIPTOR_RELATIVE));
  std::vector<BYTE> descriptor(needed);
  ASSERT_TRUE(GetFileSecurityW(file.c_str(), parts, descriptor.data(), needed, &needed));
  SECURITY_DESCRIPTOR_RELATIVE header;
  std::memcpy(&header, descriptor.data(), sizeof header);
  EXPECT_EQ(header.Revision, SECURITY_DESCRIPTOR_REVISION);
  EXPECT_EQ(header.Control & (SE_SELF_RELATIVE | SE_DACL_PRESENT), SE_SELF_RELATIVE | SE_DACL_PRESENT);
  EXPECT_NE(header.Owner, 0u);
  EXPECT_EQ(header.Group, 0u);  // not asked for
  EXPECT_NE(header.Dacl, 0u);
  EXPECT_FALSE(GetFileSecurityW(wide(winPath(folder, "none")).c_str(), parts, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // The system access list needs SeSecurityPrivilege; Wine answers access denied.
  EXPECT_FALSE(GetFileSecurityW(file.c_str(), SACL_SECURITY_INFORMATION, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), windowsOr(ERROR_PRIVILEGE_NOT_HELD, ERROR_ACCESS_DENIED));
}

TEST(FileInformation, ByHandleQueriesAndChanges) {
  TempFolder folder;
  std::string path = winPath(folder, "info.bin");
  writeFile(path, "0123456789");
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  BY_HANDLE_FILE_INFORMATION info{}, again{};
  ASSERT_TRUE(GetFileInformationByHandle(file, &info));
  EXPECT_EQ(info.nFileSizeLow, 10u);
  EXPECT_EQ(info.nNumberOfLinks, 1u);
  HANDLE second = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_TRUE(GetFileInformationByHandle(second, &again));
  CloseHandle(second);
  EXPECT_EQ(again.nFileIndexLow, info.nFileIndexLow);  // one file, one identity
  EXPECT_EQ(again.nFileIndexHigh, info.nFileIndexHigh);
  EXPECT_EQ(again.dwVolumeSerialNumber, info.dwVolumeSerialNumber);

  FILE_BASIC_INFO basic{};
  ASSERT_TRUE(GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic));
  EXPECT_EQ(basic.FileAttributes, info.dwFileAttributes);
  FILE_STANDARD_INFO standard{};
  ASSERT_TRUE(GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard));
  EXPECT_EQ(standard.EndOfFile.QuadPart, 10);
  EXPECT_EQ(standard.Directory, 0);
  struct {
    ULONGLONG volume;
    BYTE id[16];
  } id{};  // FILE_ID_INFO, class 18 (FileIdInfo)
  ASSERT_TRUE(GetFileInformationByHandleEx(file, static_cast<FILE_INFO_BY_HANDLE_CLASS>(18), &id, sizeof id));
  ULONGLONG index = 0;
  std::memcpy(&index, id.id, sizeof index);
  EXPECT_EQ(index, (ULONGLONG(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
  alignas(8) BYTE name[1024] = {};
  ASSERT_TRUE(GetFileInformationByHandleEx(file, FileNameInfo, name, sizeof name));
  DWORD nameBytes;
  std::memcpy(&nameBytes, name, sizeof nameBytes);
  WideString text(reinterpret_cast<const WCHAR*>(name + 4), nameBytes / sizeof(WCHAR));
  EXPECT_EQ(text[0], '\\');  // without the drive
  EXPECT_EQ(text.substr(text.size() - 9), wide("\\info.bin"));
  EXPECT_FALSE(GetFileInformationByHandleEx(file, FileNameInfo, name, 10));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  std::memcpy(&nameBytes, name, sizeof nameBytes);
  EXPECT_EQ(nameBytes, text.size() * sizeof(WCHAR));  // the whole name's length
  EXPECT_FALSE(GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic - 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_LENGTH));

  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = 4;
  ASSERT_TRUE(SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end));
  EXPECT_EQ(GetFileSize(file, nullptr), 4u);
  basic.LastWriteTime.QuadPart = 130000000000000000LL;  // 2012
  basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = basic.ChangeTime.QuadPart = 0;  // unchanged
  basic.FileAttributes = 0;
  ASSERT_TRUE(SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic));
  FILE_BASIC_INFO changed{};
  ASSERT_TRUE(GetFileInformationByHandleEx(file, FileBasicInfo, &changed, sizeof changed));
  EXPECT_EQ(changed.LastWriteTime.QuadPart, basic.LastWriteTime.QuadPart);
  EXPECT_FALSE(SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end - 1));
  EXPECT_EQ(GetLastError(), windowsOr(ERROR_BAD_LENGTH, ERROR_INVALID_PARAMETER));  // Wine: invalid parameter
  FILE_DISPOSITION_INFO disposition{TRUE};
  ASSERT_TRUE(SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition));
  CloseHandle(file);
  EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);  // deleted on close
}

TEST(Files, SetFilePointerLowAndHighParts) {
  TempFolder folder;
  std::string path = winPath(folder, "pointer.bin");
  writeFile(path, "0123456789");
  HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), 10u);
  EXPECT_EQ(SetFilePointer(file, 3, nullptr, FILE_BEGIN), 3u);
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_CURRENT), 2u);
  char c = 0;
  DWORD done = 0;
  ASSERT_TRUE(ReadFile(file, &c, 1, &done, nullptr));
  EXPECT_EQ(c, '2');
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(file, 5, &high, FILE_BEGIN), 5u);  // 4 GiB and 5 bytes
  EXPECT_EQ(high, 1);
  high = 0;
  SetLastError(77);  // a low part that reads as the failure value is told apart by the last error
  EXPECT_EQ(SetFilePointer(file, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(high, 0);
  EXPECT_EQ(SetFilePointer(file, -100, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  high = 0;
  EXPECT_EQ(SetFilePointer(file, 0, &high, FILE_CURRENT), INVALID_SET_FILE_POINTER);  // not moved by the failure
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(high, 0);
  EXPECT_EQ(GetFileSize(file, nullptr), 10u);  // moving the pointer does not grow the file
  CloseHandle(file);
  EXPECT_EQ(SetFilePointer(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7FF0)), 0, nullptr, FILE_BEGIN),
            INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// ---- events, clocks, modules and message texts ---------------------------------

TEST(Waits, EventsFromTheWideForm) {
  HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(manual, nullptr);
  EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(SetEvent(manual));
  EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  CloseHandle(manual);
  HANDLE automatic = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  ASSERT_NE(automatic, nullptr);
  EXPECT_EQ(WaitForSingleObject(automatic, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(WaitForSingleObject(automatic, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(automatic);
}

CRITICAL_SECTION counterLock;
long counter = 0;

DWORD WINAPI countsUnderTheLock(LPVOID) {
  for (int i = 0; i < 10000; ++i) {
    EnterCriticalSection(&counterLock);
    long seen = counter;
    counter = seen + 1;
    LeaveCriticalSection(&counterLock);
  }
  return GetCurrentThreadId();
}

TEST(Threads, CriticalSectionsAndThreadIds) {
  InitializeCriticalSection(&counterLock);
  EnterCriticalSection(&counterLock);  // the owner may enter again
  EnterCriticalSection(&counterLock);
  LeaveCriticalSection(&counterLock);
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, countsUnderTheLock, nullptr, 0, &id);
  ASSERT_NE(thread, nullptr);
  Sleep(20);
  EXPECT_EQ(counter, 0);  // held until the second leave
  LeaveCriticalSection(&counterLock);
  countsUnderTheLock(nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(counter, 20000);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, id);  // the thread's own id, as its creator was told
  EXPECT_NE(code, GetCurrentThreadId());
  CloseHandle(thread);
  DeleteCriticalSection(&counterLock);
}

ULONGLONG quad(const FILETIME& time) { return (ULONGLONG(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

TEST(Clocks, TickCountAndLocalTime) {
  DWORD start = GetTickCount();
  Sleep(100);
  DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 80u);  // the tick advances in steps of up to 16 ms
  EXPECT_LT(elapsed, 60000u);
  ULONGLONG ticks = GetTickCount64();
  EXPECT_GE(ticks, ULONGLONG(start) + elapsed - 20);  // the same count, without the wrap after 49 days
  EXPECT_LE(ticks & 0xFFFFFFFF, ULONGLONG(GetTickCount()));

  SYSTEMTIME utc{}, local{};
  GetSystemTime(&utc);
  GetLocalTime(&local);
  EXPECT_TRUE(local.wMonth >= 1 && local.wMonth <= 12 && local.wDay >= 1 && local.wDay <= 31 && local.wHour < 24 &&
              local.wMinute < 60 && local.wSecond < 60 && local.wMilliseconds < 1000);
  FILETIME utcTime, localTime, now;
  ASSERT_TRUE(SystemTimeToFileTime(&utc, &utcTime));
  GetSystemTimeAsFileTime(&now);
  EXPECT_LT(quad(now) - quad(utcTime), 50000000u);  // the same clock, read moments later
  ASSERT_TRUE(SystemTimeToFileTime(&local, &localTime));
  SYSTEMTIME back{};
  ASSERT_TRUE(FileTimeToSystemTime(&localTime, &back));
  EXPECT_EQ(back.wDayOfWeek, local.wDayOfWeek);  // the weekday of its own date
  // Local time is UTC moved by the zone's offset: whole quarter hours, at most 14 hours.
  long long seconds = static_cast<long long>(quad(localTime) / 10000000) - static_cast<long long>(quad(utcTime) / 10000000);
  long long quarters = (seconds + (seconds < 0 ? -450 : 450)) / 900;
  EXPECT_LE(std::llabs(seconds - quarters * 900), 5);
  EXPECT_LE(std::llabs(quarters), 14 * 4);
}

TEST(Modules, WideLoadThreadCallsAndFree) {
  HMODULE ntdll = LoadLibraryW(wide("ntdll.dll").c_str());
  ASSERT_NE(ntdll, nullptr) << GetLastError();
  EXPECT_NE(GetProcAddress(ntdll, "NtQueryDirectoryFile"), nullptr);
  EXPECT_EQ(GetModuleHandleW(wide("NTDLL.DLL").c_str()), ntdll);
  EXPECT_NE(GetModuleHandleW(nullptr), nullptr);  // the program
  EXPECT_EQ(GetModuleHandleW(wide("ombrel-not-loaded.dll").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_TRUE(DisableThreadLibraryCalls(ntdll));
  EXPECT_TRUE(FreeLibrary(ntdll));
  EXPECT_EQ(LoadLibraryW(wide("C:\\no\\such\\module.dll").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(LoadLibraryW((wide("no") + WCHAR(0xD800) + wide("such.dll")).c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

std::string ascii(const WCHAR* text, DWORD length) {
  std::string out;
  for (DWORD i = 0; i < length; ++i) out.push_back(static_cast<char>(text[i]));
  return out;
}

TEST(Messages, WideSystemTextsAndBuffers) {
  constexpr DWORD kSystem = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  WCHAR text[256];
  DWORD n = FormatMessageW(kSystem, nullptr, ERROR_FILE_NOT_FOUND, 0, text, 256, nullptr);
  ASSERT_GT(n, 2u);
  expectSystemText(ascii(text, n), "The system cannot find the file specified.");
  LPWSTR allocated = nullptr;
  n = FormatMessageW(kSystem | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, ERROR_ACCESS_DENIED, 0,
                     reinterpret_cast<LPWSTR>(&allocated), 0, nullptr);
  ASSERT_NE(allocated, nullptr);
  expectSystemText(ascii(allocated, n), "Access is denied.");
  LocalFree(allocated);
  EXPECT_EQ(FormatMessageW(kSystem, nullptr, ERROR_FILE_NOT_FOUND, 0, text, 4, nullptr), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(FormatMessageW(kSystem, nullptr, 0x2000FFFF, 0, text, 256, nullptr), 0u);  // no such message
  EXPECT_EQ(GetLastError(), 317u);                                                     // ERROR_MR_MID_NOT_FOUND
}

// ---- NT file queries ---------------------------------------------------------

using NtStatus = LONG;
struct IoStatus {
  union {
    NtStatus Status;
    PVOID Pointer;
  };
  ULONG_PTR Information;
};
struct CountedString {
  USHORT Length;
  USHORT MaximumLength;
  WCHAR* Buffer;
};
typedef NtStatus(WINAPI* QueryInformationFile)(HANDLE, IoStatus*, PVOID, ULONG, int);
typedef NtStatus(WINAPI* QueryDirectoryFile)(HANDLE, HANDLE, PVOID, PVOID, IoStatus*, PVOID, ULONG, int, BOOLEAN,
                                             CountedString*, BOOLEAN);
template <class Function>
Function ntdll(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("ntdll.dll"), name)));
}

constexpr NtStatus kSuccess = 0, kBufferOverflow = NtStatus(0x80000005), kNoMoreFiles = NtStatus(0x80000006),
                   kInvalidInfoClass = NtStatus(0xC0000003), kLengthMismatch = NtStatus(0xC0000004),
                   kNoSuchFile = NtStatus(0xC000000F), kNotImplemented = NtStatus(0xC0000002);

// Writes `content` to the file `path` and opens it for reading.
HANDLE writtenForReading(const std::string& path, const std::string& content) {
  writeFile(path, content);
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST(NtQueries, InformationFileClassesAndLengths) {
  TempFolder folder;
  HANDLE file = writtenForReading(winPath(folder, "nt.bin"), "hello");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  auto query = ntdll<QueryInformationFile>("NtQueryInformationFile");
  ASSERT_NE(query, nullptr);
  // Wine has no stream information (FileStreamInformation).
  NtStatus streams = onWine() ? kNotImplemented : kSuccess;
  struct {
    int informationClass;
    ULONG length;
    NtStatus status;
  } cases[] = {{4, 39, kLengthMismatch},  {4, 40, kSuccess},        {5, 23, kLengthMismatch},
               {5, 24, kSuccess},         {6, 7, kLengthMismatch},  {6, 8, kSuccess},
               {9, 7, kLengthMismatch},   {9, 8, kBufferOverflow},  {9, 512, kSuccess},
               {22, 24, kLengthMismatch}, {22, 31, onWine() ? kNotImplemented : kLengthMismatch},
               {22, 512, streams},        {200, 512, kInvalidInfoClass}};
  for (const auto& c : cases) {
    alignas(8) BYTE buffer[512] = {};
    IoStatus status{};
    EXPECT_EQ(query(file, &status, buffer, c.length, c.informationClass), c.status)
        << c.informationClass << " " << c.length;
    if (c.status == kBufferOverflow) {
      EXPECT_EQ(status.Information, c.length);
    }
    if (c.informationClass == 5 && c.status == kSuccess) {
      EXPECT_EQ(buffer[8], 5);  // end of file
    }
    if (c.informationClass == 6 && c.status == kSuccess) {
      BY_HANDLE_FILE_INFORMATION info;
      GetFileInformationByHandle(file, &info);
      ULONGLONG index;
      std::memcpy(&index, buffer, sizeof index);
      EXPECT_EQ(index, (ULONGLONG(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
    }
    if (c.informationClass == 22 && c.status == kSuccess) {  // "::$DATA" of 5 bytes
      EXPECT_EQ(WideString(reinterpret_cast<const WCHAR*>(buffer + 24), 7), wide("::$DATA"));
      EXPECT_EQ(buffer[8], 5);
    }
  }
  CloseHandle(file);
}

TEST(NtQueries, DirectoryRecordsShortBuffersAndCursors) {
  TempFolder folder;
  for (const char* name : {"a.txt", "bb.txt", "ccc.dat"}) writeFile(winPath(folder, name), name);
  auto query = ntdll<QueryDirectoryFile>("NtQueryDirectoryFile");
  ASSERT_NE(query, nullptr);
  auto open = [&] {
    return CreateFileA(winPath(folder).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  };
  // A buffer must hold a record's fixed part with its padding (the structure's
  // size); one that holds that but not the whole name gets the name's start.
  struct {
    int informationClass;
    ULONG nameOffset, size;
  } classes[] = {{1, 64, 72}, {2, 68, 72}, {3, 94, 96}, {12, 12, 16}, {37, 104, 112}, {38, 80, 88}};
  WCHAR bb[] = {'b', 'b', '.', 't', 'x', 't'};
  CountedString pattern{sizeof bb, sizeof bb, bb};
  for (const auto& c : classes) {
    ULONG whole = c.nameOffset + sizeof bb;
    for (ULONG length : {c.nameOffset, c.size - 1, c.size, whole - 1, whole}) {
      HANDLE dir = open();
      alignas(8) BYTE buffer[256];
      std::memset(buffer, 0xCC, sizeof buffer);
      IoStatus status{};
      NtStatus result = query(dir, nullptr, nullptr, nullptr, &status, buffer, length, c.informationClass, TRUE,
                              &pattern, TRUE);
      CloseHandle(dir);
      NtStatus expected = length < c.size ? kLengthMismatch : length < whole ? kBufferOverflow : kSuccess;
      EXPECT_EQ(result, expected) << c.informationClass << " " << length;
      if (expected == kLengthMismatch) continue;
      EXPECT_EQ(status.Information, length);
      ULONG nameLength;
      std::memcpy(&nameLength, buffer + (c.informationClass == 12 ? 8 : 60), sizeof nameLength);
      EXPECT_EQ(nameLength, sizeof bb);  // the whole name's length, even when cut
      EXPECT_EQ(buffer[c.nameOffset], 'b');
    }
  }
  // Enumeration: records chained on 8-byte boundaries, a cursor per handle, restart.
  HANDLE dir = open();
  auto names = [&](ULONG length, BOOLEAN single, BOOLEAN restart, NtStatus* result) {
    std::vector<std::string> found;
    alignas(8) BYTE buffer[4096];
    IoStatus status{};
    *result = query(dir, nullptr, nullptr, nullptr, &status, buffer, length, 1, single, nullptr, restart);
    if (*result != kSuccess) return found;
    for (ULONG at = 0;;) {
      EXPECT_EQ(at % 8, 0u);
      ULONG next, bytes;
      std::memcpy(&next, buffer + at, 4);
      std::memcpy(&bytes, buffer + at + 60, 4);
      std::string name;
      for (ULONG i = 0; i < bytes / 2; ++i) name += static_cast<char>(buffer[at + 64 + 2 * i]);
      found.push_back(name);
      if (!next) break;
      at += next;
    }
    return found;
  };
  NtStatus result;
  EXPECT_EQ(names(4096, TRUE, TRUE, &result).size(), 1u);
  std::set<std::string> all;
  for (int call = 0; call < 10; ++call) {
    auto batch = names(100, FALSE, FALSE, &result);  // room for one record at a time
    if (result == kNoMoreFiles) break;
    ASSERT_EQ(result, kSuccess);
    EXPECT_EQ(batch.size(), 1u);
    all.insert(batch.begin(), batch.end());
  }
  EXPECT_EQ(result, kNoMoreFiles);
  EXPECT_EQ(all.size(), 4u);  // ".." and the three files after the first call's "."
  EXPECT_EQ(names(4096, FALSE, TRUE, &result).size(), 5u);
  CloseHandle(dir);
  dir = open();
  WCHAR none[] = {'*', '.', 'n', 'o', 'n', 'e'};
  CountedString nothing{sizeof none, sizeof none, none};
  alignas(8) BYTE buffer[256];
  IoStatus status{};
  EXPECT_EQ(query(dir, nullptr, nullptr, nullptr, &status, buffer, sizeof buffer, 1, FALSE, &nothing, TRUE),
            kNoSuchFile);
  CloseHandle(dir);
}

// ---- virtual memory ------------------------------------------------------------

TEST(VirtualMemory, QueryOverReservedCommittedGuardAndFreedRegions) {
  auto* region = static_cast<BYTE*>(VirtualAlloc(nullptr, 0x40000, MEM_RESERVE, PAGE_READWRITE));
  ASSERT_NE(region, nullptr);
  ASSERT_EQ(reinterpret_cast<ULONG_PTR>(region) % 0x10000, 0u);
  ASSERT_EQ(VirtualAlloc(region, 0x2000, MEM_COMMIT, PAGE_READWRITE), region);
  ASSERT_NE(VirtualAlloc(region + 0x3000, 0x1000, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD), nullptr);
  ASSERT_NE(VirtualAlloc(region + 0x5000, 0x1000, MEM_COMMIT, PAGE_READONLY), nullptr);
  region[0x1FFF] = 1;
  struct {
    ULONG_PTR at, base, size;
    DWORD state, protect;
  } cases[] = {{0x10, 0, 0x2000, MEM_COMMIT, PAGE_READWRITE},
               {0x2000, 0x2000, 0x1000, MEM_RESERVE, 0},
               {0x3000, 0x3000, 0x1000, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD},
               {0x4FFF, 0x4000, 0x1000, MEM_RESERVE, 0},
               {0x5000, 0x5000, 0x1000, MEM_COMMIT, PAGE_READONLY},
               {0x6000, 0x6000, 0x3A000, MEM_RESERVE, 0}};
  for (const auto& c : cases) {
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_EQ(VirtualQuery(region + c.at, &info, sizeof info), sizeof info);
    EXPECT_EQ(info.BaseAddress, region + c.base) << c.at;
    EXPECT_EQ(info.AllocationBase, region) << c.at;
    EXPECT_EQ(info.AllocationProtect, static_cast<DWORD>(PAGE_READWRITE)) << c.at;
    EXPECT_EQ(info.RegionSize, c.size) << c.at;
    EXPECT_EQ(info.State, c.state) << c.at;
    EXPECT_EQ(info.Protect, c.protect) << c.at;
    EXPECT_EQ(info.Type, static_cast<DWORD>(MEM_PRIVATE)) << c.at;
  }
  ASSERT_TRUE(VirtualFree(region + 0x1000, 0x1000, MEM_DECOMMIT));
  MEMORY_BASIC_INFORMATION info{};
  ASSERT_EQ(VirtualQuery(region + 0x1000, &info, sizeof info), sizeof info);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_RESERVE));
  EXPECT_EQ(info.RegionSize, 0x2000u);  // with the reserved page after it
  EXPECT_FALSE(VirtualFree(region + 0x1000, 0, MEM_RELEASE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
  EXPECT_FALSE(VirtualFree(region, 0x1000, MEM_RELEASE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  ASSERT_TRUE(VirtualFree(region, 0, MEM_RELEASE));
  ASSERT_EQ(VirtualQuery(region, &info, sizeof info), sizeof info);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_NOACCESS));
  EXPECT_EQ(info.AllocationBase, nullptr);
  EXPECT_EQ(info.Type, 0u);
  ASSERT_EQ(VirtualQuery(reinterpret_cast<void*>(16), &info, sizeof info), sizeof info);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_FREE));
  EXPECT_EQ(info.BaseAddress, nullptr);
  EXPECT_EQ(VirtualQuery(region, &info, sizeof info - 1), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_LENGTH));
  EXPECT_EQ(VirtualQuery(reinterpret_cast<void*>(~ULONG_PTR(0xFFFF)), &info, sizeof info), 0u);  // the kernel's
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // Memory the program did not allocate with VirtualAlloc: stack, heap and code.
  int local = 0;
  std::unique_ptr<char[]> heap(new char[100]);
  for (const void* address : {static_cast<const void*>(&local), static_cast<const void*>(heap.get())}) {
    ASSERT_EQ(VirtualQuery(address, &info, sizeof info), sizeof info);
    EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
    EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READWRITE));
    EXPECT_EQ(info.Type, static_cast<DWORD>(MEM_PRIVATE));
  }
  ASSERT_EQ(VirtualQuery(reinterpret_cast<const void*>(&onWine), &info, sizeof info), sizeof info);
  EXPECT_EQ(info.State, static_cast<DWORD>(MEM_COMMIT));
  EXPECT_EQ(info.Type, static_cast<DWORD>(MEM_IMAGE));
  EXPECT_TRUE(info.Protect & (PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE));
  EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(VirtualAlloc(nullptr, 0x1000, MEM_COMMIT, 0x99), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// ---- registry under HKEY_LOCAL_MACHINE ------------------------------------------

TEST(Registry, MachineKeysMoreDataAndNoMoreItems) {
  WideString path = wide("SOFTWARE\\OmbrelConformance" + std::to_string(GetCurrentProcessId()));
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (path + wide("\\Inner")).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const WCHAR text[] = {'v', 'a', 'l', 'u', 'e', 0};
  DWORD number = 7;
  ULONGLONG quad = 1ULL << 40;
  ASSERT_EQ(RegSetValueExW(key, wide("bbb").c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), 0);
  ASSERT_EQ(RegSetValueExW(key, wide("aaa").c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4), 0);
  ASSERT_EQ(RegSetValueExW(key, wide("Ccc").c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>("xyz"), 3), 0);
  ASSERT_EQ(RegSetValueExW(key, wide("Quad").c_str(), 0, REG_QWORD, reinterpret_cast<const BYTE*>(&quad), 8), 0);
  BYTE small[4];
  DWORD type = 0, size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(key, wide("bbb").c_str(), nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof text);
  size = 0;
  EXPECT_EQ(RegQueryValueExW(key, wide("BBB").c_str(), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, sizeof text);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(RegQueryValueExW(key, wide("none").c_str(), nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  // Values come in no promised order; each once, then ERROR_NO_MORE_ITEMS.
  std::set<WideString> values;
  for (DWORD index = 0;; ++index) {
    WCHAR name[64];
    DWORD nameLength = 64, dataLength = 0;
    LONG rc = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, &dataLength);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(rc, ERROR_SUCCESS);
    EXPECT_EQ(nameLength, WideString(name).size());
    values.insert(name);
    ASSERT_LT(index, 10u);
  }
  EXPECT_EQ(values, (std::set<WideString>{wide("aaa"), wide("bbb"), wide("Ccc"), wide("Quad")}));
  WCHAR name[64];
  DWORD nameLength = 2, dataLength = 0;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &nameLength, nullptr, &type, nullptr, &dataLength), ERROR_MORE_DATA);
  nameLength = 64;
  dataLength = 2;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &nameLength, nullptr, &type, small, &dataLength), ERROR_MORE_DATA);
  EXPECT_EQ(nameLength, WideString(name).size());
  DWORD needed = dataLength;
  EXPECT_EQ(RegQueryValueExW(key, name, nullptr, &type, nullptr, &dataLength), ERROR_SUCCESS);
  EXPECT_EQ(needed, dataLength);  // the data's size
  RegCloseKey(key);

  HKEY parent = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &parent), ERROR_SUCCESS);
  for (const char* sub : {"zeta", "Alpha"}) {
    HKEY child;
    ASSERT_EQ(RegCreateKeyExW(parent, wide(sub).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr), 0);
    RegCloseKey(child);
  }
  std::vector<WideString> keys;  // sub-keys come sorted without regard to case
  for (DWORD index = 0;; ++index) {
    nameLength = 64;
    LONG rc = RegEnumKeyExW(parent, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(rc, ERROR_SUCCESS);
    keys.push_back(name);
    ASSERT_LT(index, 10u);
  }
  EXPECT_EQ(keys, (std::vector<WideString>{wide("Alpha"), wide("Inner"), wide("zeta")}));
  nameLength = 3;
  EXPECT_EQ(RegEnumKeyExW(parent, 1, name, &nameLength, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()), ERROR_ACCESS_DENIED);  // it has sub-keys
  DWORD securitySize = 0;
  SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  EXPECT_EQ(RegGetKeySecurity(parent, parts, nullptr, &securitySize), ERROR_INSUFFICIENT_BUFFER);
  std::vector<BYTE> descriptor(securitySize);
  EXPECT_EQ(RegGetKeySecurity(parent, parts, descriptor.data(), &securitySize), ERROR_SUCCESS);
  EXPECT_EQ(RegSetKeySecurity(parent, DACL_SECURITY_INFORMATION, descriptor.data()), ERROR_SUCCESS);
  securitySize = 0;
  EXPECT_EQ(RegGetKeySecurity(parent, SACL_SECURITY_INFORMATION, nullptr, &securitySize),
            LONG(windowsOr(ERROR_PRIVILEGE_NOT_HELD, ERROR_ACCESS_DENIED)));  // Wine: access denied
  EXPECT_EQ(RegFlushKey(parent), ERROR_SUCCESS);
  for (const char* sub : {"Inner", "zeta", "Alpha"}) EXPECT_EQ(RegDeleteKeyW(parent, wide(sub).c_str()), 0);
  RegCloseKey(parent);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

// Key names are as distinct as file names: a lone surrogate is a name of its own,
// and a slash is an ordinary character of a key name.
TEST(Registry, KeyNamesKeepEveryCharacter) {
  WideString path = wide("SOFTWARE\\OmbrelConformanceNames" + std::to_string(GetCurrentProcessId()));
  HKEY parent = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &parent, nullptr),
            ERROR_SUCCESS);
  const WideString names[] = {wide("k") + WCHAR(0xD800), wide("k") + WCHAR(0xDC00), wide("k") + WCHAR(0xFFFD),
                              wide("text/plain"), wide("text%2Fplain")};
  for (const auto& name : names) {
    HKEY child = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    RegCloseKey(child);
  }
  std::set<WideString> listed;
  for (DWORD index = 0;; ++index) {
    WCHAR name[64];
    DWORD nameLength = 64;
    LONG rc = RegEnumKeyExW(parent, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(rc, ERROR_SUCCESS);
    listed.insert(WideString(name, nameLength));
    ASSERT_LT(index, 10u);
  }
  EXPECT_EQ(listed, std::set<WideString>(std::begin(names), std::end(names)));
  HKEY inner = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (path + wide("\\TEXT/PLAIN")).c_str(), 0, KEY_READ, &inner),
            ERROR_SUCCESS);
  RegCloseKey(inner);
  // Key and value names compare without regard to case beyond ASCII too.
  const WideString lower(1, 0x0561), upper(1, 0x0531);  // Armenian
  ASSERT_EQ(RegCreateKeyExW(parent, lower.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &inner, nullptr), 0);
  DWORD value = 7, size = sizeof value;
  EXPECT_EQ(RegSetValueExW(inner, lower.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), size), 0);
  EXPECT_EQ(RegQueryValueExW(inner, upper.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size), 0);
  RegCloseKey(inner);
  EXPECT_EQ(RegDeleteKeyW(parent, upper.c_str()), ERROR_SUCCESS);
  for (const auto& name : names) EXPECT_EQ(RegDeleteKeyW(parent, name.c_str()), ERROR_SUCCESS);
  RegCloseKey(parent);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()), ERROR_SUCCESS);
}

// Hive calls check SeBackupPrivilege and SeRestorePrivilege before anything else;
// Wine checks them for unloading only.
TEST(Registry, HivesNeedBackupAndRestorePrivileges) {
  WideString missing = wide("C:\\no\\such\\folder\\hive");
  EXPECT_EQ(RegUnLoadKeyW(HKEY_LOCAL_MACHINE, wide("OmbrelNoSuchHive").c_str()), ERROR_PRIVILEGE_NOT_HELD);
  EXPECT_EQ(RegLoadKeyW(HKEY_LOCAL_MACHINE, wide("OmbrelNoSuchHive").c_str(), missing.c_str()),
            LONG(windowsOr(ERROR_PRIVILEGE_NOT_HELD, ERROR_PATH_NOT_FOUND)));
}

// ---- tokens, privileges and SIDs --------------------------------------------------

TEST(Security, TokenUserAndPrivileges) {
  LUID luid{};
  ASSERT_TRUE(LookupPrivilegeValueW(nullptr, wide("SeBackupPrivilege").c_str(), &luid));
  EXPECT_EQ(luid.LowPart, 17u);
  EXPECT_FALSE(LookupPrivilegeValueW(nullptr, wide("SeNoSuchPrivilege").c_str(), &luid));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  TOKEN_PRIVILEGES privileges{1, {{{20, 0}, SE_PRIVILEGE_ENABLED}}};  // SeDebugPrivilege
  SetLastError(77);
  EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  privileges.Privileges[0].Attributes = 0;
  AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  privileges.Privileges[0].Luid.LowPart = 999;
  EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
  DWORD size = 0;
  EXPECT_FALSE(GetTokenInformation(token, TokenUser, nullptr, 0, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> user(size);
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, user.data(), size, &size));
  PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  EXPECT_TRUE(IsValidSid(sid));
  DWORD length = GetLengthSid(sid);
  EXPECT_EQ(length, 8 + 4u * static_cast<const BYTE*>(sid)[1]);
  std::vector<BYTE> copy(length);
  EXPECT_TRUE(CopySid(length, copy.data(), sid));
  SetLastError(0);
  EXPECT_FALSE(CopySid(length - 1, copy.data(), sid));
  EXPECT_EQ(GetLastError(), windowsOr(ERROR_INSUFFICIENT_BUFFER, 0));  // Wine sets no error
  LPSTR text = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidA(sid, &text));
  EXPECT_EQ(std::string(text).rfind("S-1-", 0), 0u);
  LocalFree(text);
  CloseHandle(token);
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
}

// ---- the service manager and the event log ---------------------------------------

// A service's dependents in any state, by the two calls of the ANSI or the wide form.
template <class Entry>
std::vector<BYTE> dependentsOf(SC_HANDLE service,
                               BOOL(WINAPI* enumerate)(SC_HANDLE, DWORD, Entry*, DWORD, LPDWORD, LPDWORD),
                               DWORD* count) {
  DWORD needed = 0;
  EXPECT_FALSE(enumerate(service, SERVICE_STATE_ALL, nullptr, 0, &needed, count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  std::vector<BYTE> buffer(needed);
  EXPECT_TRUE(enumerate(service, SERVICE_STATE_ALL, reinterpret_cast<Entry*>(buffer.data()), needed, &needed, count));
  return buffer;
}

TEST(Services, CreateQueryControlAndDelete) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr) << GetLastError();
  std::string a = "OmbrelConformanceA" + std::to_string(GetCurrentProcessId());
  std::string b = "OmbrelConformanceB" + std::to_string(GetCurrentProcessId());
  std::string dependencies = a + std::string(1, '\0');
  SC_HANDLE first = CreateServiceA(manager, a.c_str(), "Ombrel Conformance", SERVICE_ALL_ACCESS,
                                   SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                   "C:\\no\\such\\service.exe -start", nullptr, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(first, nullptr) << GetLastError();
  SC_HANDLE second = CreateServiceA(manager, b.c_str(), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                    SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "C:\\no\\such\\service.exe",
                                    nullptr, nullptr, dependencies.c_str(), nullptr, nullptr);
  ASSERT_NE(second, nullptr) << GetLastError();
  std::string upper = a;
  for (auto& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(CreateServiceA(manager, upper.c_str(), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                           SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "x.exe", nullptr, nullptr, nullptr, nullptr,
                           nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));
  EXPECT_EQ(OpenServiceA(manager, "OmbrelNoSuchService", SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));

  DWORD needed = 0;
  EXPECT_FALSE(QueryServiceConfigA(first, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(buffer.data());
  ASSERT_TRUE(QueryServiceConfigA(first, config, needed, &needed));
  EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_STREQ(config->lpBinaryPathName, "C:\\no\\such\\service.exe -start");
  EXPECT_STREQ(config->lpDisplayName, "Ombrel Conformance");
  if (!onWine()) {  // Wine keeps no dependencies and lists no dependents
    needed = 0;
    QueryServiceConfigA(second, nullptr, 0, &needed);
    buffer.assign(needed, 0);
    config = reinterpret_cast<LPQUERY_SERVICE_CONFIGA>(buffer.data());
    ASSERT_TRUE(QueryServiceConfigA(second, config, needed, &needed));
    EXPECT_EQ(std::string(config->lpDependencies, a.size() + 2), a + std::string(2, '\0'));
    DWORD count = 0;
    buffer = dependentsOf(first, EnumDependentServicesA, &count);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(std::string(reinterpret_cast<LPENUM_SERVICE_STATUSA>(buffer.data())->lpServiceName), b);
  }
  DWORD count = 5;
  EXPECT_TRUE(EnumDependentServicesA(first, SERVICE_ACTIVE, nullptr, 0, &needed, &count));
  EXPECT_EQ(count, 0u);

  // The wide forms, as the system bridge calls them; service names ignore case.
  SC_HANDLE wideManager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  ASSERT_NE(wideManager, nullptr) << GetLastError();
  SC_HANDLE wideFirst =
      OpenServiceW(wideManager, wide(upper).c_str(), SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS);
  ASSERT_NE(wideFirst, nullptr) << GetLastError();
  EXPECT_EQ(OpenServiceW(wideManager, wide("OmbrelNoSuchService").c_str(), SERVICE_QUERY_STATUS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  count = 5;
  EXPECT_TRUE(EnumDependentServicesW(wideFirst, SERVICE_ACTIVE, nullptr, 0, &needed, &count));
  EXPECT_EQ(count, 0u);
  if (!onWine()) {  // Wine lists no dependents
    buffer = dependentsOf(wideFirst, EnumDependentServicesW, &count);
    ASSERT_EQ(count, 1u);
    auto* dependents = reinterpret_cast<LPENUM_SERVICE_STATUSW>(buffer.data());
    EXPECT_EQ(WideString(dependents[0].lpServiceName), wide(b));
    EXPECT_EQ(WideString(dependents[0].lpDisplayName), wide(b));  // no display name given: the service name
    EXPECT_EQ(dependents[0].ServiceStatus.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  }
  CloseServiceHandle(wideFirst);
  CloseServiceHandle(wideManager);

  SERVICE_STATUS status{};
  ASSERT_TRUE(QueryServiceStatus(first, &status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(status.dwWin32ExitCode, 1077u);  // ERROR_SERVICE_NEVER_STARTED
  SERVICE_STATUS_PROCESS process{};
  EXPECT_FALSE(QueryServiceStatusEx(first, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&process), 10, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(needed, sizeof process);
  ASSERT_TRUE(QueryServiceStatusEx(first, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&process), sizeof process,
                                   &needed));
  EXPECT_EQ(process.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(process.dwProcessId, 0u);
  EXPECT_FALSE(ControlService(first, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
  EXPECT_FALSE(StartServiceA(first, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ASSERT_TRUE(QueryServiceStatus(first, &status));
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));

  EXPECT_TRUE(DeleteService(second));
  EXPECT_FALSE(DeleteService(second));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
  CloseServiceHandle(second);
  EXPECT_EQ(OpenServiceA(manager, b.c_str(), SERVICE_ALL_ACCESS), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_TRUE(DeleteService(first));
  CloseServiceHandle(first);
  CloseServiceHandle(manager);
}

void WINAPI serviceMain(DWORD, LPSTR*) {}
BOOL WINAPI consoleHandler(DWORD) { return FALSE; }

TEST(Services, DispatcherOutsideAServiceProcess) {
  char name[] = "OmbrelConformance";
  SERVICE_TABLE_ENTRYA table[] = {{name, serviceMain}, {nullptr, nullptr}};
  EXPECT_FALSE(StartServiceCtrlDispatcherA(table));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
}

// A service process: this program itself, started by the service manager with
// only ServiceProcess.DISABLED_RunsTheService selected. Its service main notes
// what the service calls answered in "report.txt" of the folder it is started
// with, reports running and stops when asked.
namespace service_side {

SERVICE_STATUS_HANDLE statusHandle = nullptr;
HANDLE stopRequested = nullptr;
std::string report;

void note(const char* call, DWORD value) { report += std::string(call) + " " + std::to_string(value) + "\n"; }

SERVICE_STATUS statusOf(DWORD state, DWORD accepted) {
  return SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, state, accepted, NO_ERROR, 0, 0, 0};
}

void WINAPI handler(DWORD control) {
  note("control", control);
  if (control != SERVICE_CONTROL_STOP) return;
  SERVICE_STATUS stopping = statusOf(SERVICE_STOP_PENDING, 0);
  stopping.dwWaitHint = 5000;
  SetServiceStatus(statusHandle, &stopping);
  SetEvent(stopRequested);
}

void WINAPI serviceMain(DWORD argc, LPSTR* argv) {
  note("arguments", argc);
  // One service in its own process: the name is not checked.
  note("other name", RegisterServiceCtrlHandlerA("OmbrelSomeOtherService", handler) ? 0 : GetLastError());
  statusHandle = RegisterServiceCtrlHandlerA(argv[0], handler);
  note("register", statusHandle ? 0 : GetLastError());
  stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SERVICE_STATUS status = statusOf(SERVICE_RUNNING, SERVICE_ACCEPT_STOP);
  if (!onWine()) {  // Wine's service process goes no further after either
    note("foreign handle", SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(static_cast<ULONG_PTR>(0x7FF0)),
                                            &status) ? 0 : GetLastError());
    status.dwCurrentState = 99;
    note("no such state", SetServiceStatus(statusHandle, &status) ? 0 : GetLastError());
    status.dwCurrentState = SERVICE_RUNNING;
  }
  note("running", SetServiceStatus(statusHandle, &status) ? 0 : GetLastError());
  WaitForSingleObject(stopRequested, 60000);
  if (argc > 1) {
    HANDLE file = CreateFileA((std::string(argv[1]) + "\\report.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    CloseHandle(file);
  }
  status = statusOf(SERVICE_STOPPED, 0);
  SetServiceStatus(statusHandle, &status);
}

}  // namespace service_side

TEST(ServiceProcess, DISABLED_RunsTheService) {
  char name[] = "OmbrelConformanceService";
  SERVICE_TABLE_ENTRYA table[] = {{name, service_side::serviceMain}, {nullptr, nullptr}};
  EXPECT_TRUE(StartServiceCtrlDispatcherA(table)) << GetLastError();
}

TEST(Services, RunAsServiceReportsAndStops) {
  TempFolder folder;
  char program[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
  ASSERT_GT(length, 0u);
  std::string command = "\"" + std::string(program, length) +
                        "\" --gtest_filter=ServiceProcess.DISABLED_RunsTheService --gtest_also_run_disabled_tests";
  std::string name = "OmbrelConformanceService";  // the name the service side's table gives
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr) << GetLastError();
  if (SC_HANDLE leftover = OpenServiceA(manager, name.c_str(), SERVICE_ALL_ACCESS)) {  // of an interrupted run
    SERVICE_STATUS ignored;
    ControlService(leftover, SERVICE_CONTROL_STOP, &ignored);
    DeleteService(leftover);
    CloseServiceHandle(leftover);
  }
  SC_HANDLE service = CreateServiceA(manager, name.c_str(), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                     nullptr, nullptr, nullptr);
  ASSERT_NE(service, nullptr) << GetLastError();
  auto awaitState = [&](DWORD state) {
    SERVICE_STATUS status{};
    for (int i = 0; i < 1200 && QueryServiceStatus(service, &status) && status.dwCurrentState != state; ++i) Sleep(25);
    return status;
  };
  std::string where = winPath(folder);
  LPCSTR arguments[] = {where.c_str()};
  EXPECT_TRUE(StartServiceA(service, 1, arguments)) << GetLastError();
  SERVICE_STATUS status = awaitState(SERVICE_RUNNING);
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
  ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
  EXPECT_TRUE(status.dwCurrentState == SERVICE_STOP_PENDING || status.dwCurrentState == SERVICE_STOPPED)
      << status.dwCurrentState;
  status = awaitState(SERVICE_STOPPED);
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(folder.read("report.txt"), std::string("arguments 2\n"  // the service's name and the start argument
                                                   "other name 0\n"
                                                   "register 0\n") +
                                           (onWine() ? ""
                                                     : "foreign handle 6\n"  // ERROR_INVALID_HANDLE
                                                       "no such state 13\n") +  // ERROR_INVALID_DATA
                                           "running 0\n"
                                           "control 1\n");
  EXPECT_TRUE(DeleteService(service));
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

TEST(EventLog, SourceReportAndDeregister) {
  HANDLE source = RegisterEventSourceA(nullptr, "OmbrelConformance");
  ASSERT_NE(source, nullptr);
  LPCSTR strings[] = {"first", "second"};
  EXPECT_TRUE(ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 0xC0000064, nullptr, 2, 0, strings, nullptr));
  EXPECT_TRUE(ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 0x40000001, nullptr, 0, 0, nullptr, nullptr));
  EXPECT_TRUE(DeregisterEventSource(source));
}

// ---- moves and change notifications -------------------------------------------------

TEST(Moves, RenameReplaceDelayAndErrors) {
  TempFolder folder;
  writeFile(winPath(folder, "a.txt"), "a");
  writeFile(winPath(folder, "b.txt"), "b");
  CreateDirectoryA(winPath(folder, "sub").c_str(), nullptr);
  auto move = [&](const char* from, const char* to, DWORD flags) {
    return MoveFileExW(wide(winPath(folder, from)).c_str(), to ? wide(winPath(folder, to)).c_str() : nullptr, flags);
  };
  EXPECT_TRUE(move("a.txt", "c.txt", 0));
  struct {
    const char *from, *to;
    DWORD flags, error;
  } failures[] = {{"c.txt", "b.txt", 0, ERROR_ALREADY_EXISTS},
                  {"none", "d.txt", 0, ERROR_FILE_NOT_FOUND},
                  {"c.txt", "none\\d.txt", 0, ERROR_PATH_NOT_FOUND}};
  for (const auto& f : failures) {
    EXPECT_FALSE(move(f.from, f.to, f.flags)) << f.from << " " << f.to;
    EXPECT_EQ(GetLastError(), f.error) << f.from << " " << f.to;
  }
  if (!onWine()) {  // Wine accepts a delayed move that may copy
    EXPECT_FALSE(move("c.txt", "d.txt", MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  EXPECT_TRUE(move("c.txt", "b.txt", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(folder.read("b.txt"), "a");
  EXPECT_TRUE(move("sub", "moved", 0));
  EXPECT_TRUE(GetFileAttributesA(winPath(folder, "moved").c_str()) & FILE_ATTRIBUTE_DIRECTORY);

  // Delayed until restart: recorded, as Windows does, in the session manager's
  // "PendingFileRenameOperations" (restored afterwards).
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, wide("SYSTEM\\CurrentControlSet\\Control\\Session Manager").c_str(), 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  WideString value = wide("PendingFileRenameOperations");
  DWORD type = 0, size = 0;
  bool had = RegQueryValueExW(key, value.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
  std::vector<BYTE> before(size);
  if (had) RegQueryValueExW(key, value.c_str(), nullptr, &type, before.data(), &size);
  EXPECT_TRUE(move("b.txt", "e.txt", MOVEFILE_DELAY_UNTIL_REBOOT));
  size = 0;
  ASSERT_EQ(RegQueryValueExW(key, value.c_str(), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  std::vector<BYTE> after(size);
  ASSERT_EQ(RegQueryValueExW(key, value.c_str(), nullptr, &type, after.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  WideString list(reinterpret_cast<const WCHAR*>(after.data()), size / sizeof(WCHAR));
  WideString expected =
      wide("\\??\\" + winPath(folder, "b.txt")) + WCHAR(0) + wide("\\??\\" + winPath(folder, "e.txt"));
  EXPECT_NE(list.find(expected), WideString::npos);
  if (had)
    RegSetValueExW(key, value.c_str(), 0, REG_MULTI_SZ, before.data(), static_cast<DWORD>(before.size()));
  else
    RegDeleteValueW(key, value.c_str());
  RegCloseKey(key);
  EXPECT_NE(GetFileAttributesA(winPath(folder, "b.txt").c_str()), INVALID_FILE_ATTRIBUTES);  // not moved yet
}

TEST(ChangeNotifications, SignalRearmSubtreeAndErrors) {
  TempFolder folder;
  CreateDirectoryA(winPath(folder, "sub").c_str(), nullptr);
  HANDLE watch = FindFirstChangeNotificationA(winPath(folder).c_str(), TRUE, FILE_NOTIFY_CHANGE_FILE_NAME);
  ASSERT_NE(watch, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(WaitForSingleObject(watch, 0), WAIT_TIMEOUT);
  writeFile(winPath(folder, "top.txt"), "x");
  ASSERT_EQ(WaitForSingleObject(watch, 60000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(watch, 0), WAIT_OBJECT_0);  // signalled until re-armed
  ASSERT_TRUE(FindNextChangeNotification(watch));
  writeFile(winPath(folder, "sub\\new.txt"), "x");
  if (!onWine()) {  // Wine signals a re-armed handle no more, and a sub-folder's changes not reliably
    EXPECT_EQ(WaitForSingleObject(watch, 60000), WAIT_OBJECT_0);
  }
  EXPECT_TRUE(FindCloseChangeNotification(watch));
  struct {
    std::string path;
    DWORD filter, error;
  } failures[] = {{winPath(folder, "none"), FILE_NOTIFY_CHANGE_FILE_NAME, ERROR_FILE_NOT_FOUND},
                  {winPath(folder, "none\\deeper"), FILE_NOTIFY_CHANGE_FILE_NAME, ERROR_PATH_NOT_FOUND},
                  {winPath(folder, "sub"), 0, ERROR_INVALID_PARAMETER}};
  for (const auto& f : failures) {
    EXPECT_EQ(FindFirstChangeNotificationA(f.path.c_str(), FALSE, f.filter), INVALID_HANDLE_VALUE) << f.path;
    EXPECT_EQ(GetLastError(), f.error) << f.path;
  }
  writeFile(winPath(folder, "file.txt"), "x");
  EXPECT_EQ(FindFirstChangeNotificationA(winPath(folder, "file.txt").c_str(), FALSE, 1), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_FALSE(FindCloseChangeNotification(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7FF0))));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(ChangeNotifications, WideForm) {
  TempFolder folder;
  HANDLE watch = FindFirstChangeNotificationW(wide(winPath(folder)).c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
  ASSERT_NE(watch, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(WaitForSingleObject(watch, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  writeFile(winPath(folder, "new.txt"), "x");
  EXPECT_EQ(WaitForSingleObject(watch, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(FindCloseChangeNotification(watch));
  EXPECT_EQ(FindFirstChangeNotificationW(wide(winPath(folder, "none")).c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// ---- device controls ------------------------------------------------------------------

// The change-journal controls go to a volume; a closed handle or a plain file refuses them.
TEST(DeviceControl, JournalControlsNeedAVolume) {
  TempFolder folder;
  HANDLE file = writtenForReading(winPath(folder, "plain.bin"), "x");
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  alignas(8) BYTE out[256];
  DWORD returned = 0;
  // The code depends on the file system (Wine: ERROR_NOT_SUPPORTED).
  EXPECT_FALSE(DeviceIoControl(file, FSCTL_QUERY_USN_JOURNAL, nullptr, 0, out, sizeof out, &returned, nullptr));
  EXPECT_NE(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  CloseHandle(file);
  EXPECT_FALSE(DeviceIoControl(file, FSCTL_QUERY_USN_JOURNAL, nullptr, 0, out, sizeof out, &returned, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// ---- volumes and system information ---------------------------------------------------

TEST(Volumes, DrivesSpaceAndVolumePaths) {
  EXPECT_EQ(GetDriveTypeW(wide("C:\\").c_str()), static_cast<UINT>(DRIVE_FIXED));
  EXPECT_EQ(GetDriveTypeW(nullptr), static_cast<UINT>(DRIVE_FIXED));  // the current drive
  EXPECT_EQ(GetDriveTypeW(wide("Q:\\").c_str()), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
  // A folder is no root; Wine answers with its drive's type.
  EXPECT_EQ(GetDriveTypeW(wide("C:\\windows").c_str()), windowsOr(DRIVE_NO_ROOT_DIR, DRIVE_FIXED));
  EXPECT_EQ(GetDriveTypeA("C:\\"), static_cast<UINT>(DRIVE_FIXED));
  EXPECT_EQ(GetDriveTypeA(nullptr), static_cast<UINT>(DRIVE_FIXED));
  EXPECT_EQ(GetDriveTypeA("Q:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
  ULARGE_INTEGER available, total, free;
  ASSERT_TRUE(GetDiskFreeSpaceExW(wide("C:\\").c_str(), &available, &total, &free));
  EXPECT_GT(total.QuadPart, 0u);
  EXPECT_GE(total.QuadPart, free.QuadPart);
  EXPECT_FALSE(GetDiskFreeSpaceExW(wide("C:\\no\\such\\folder").c_str(), &available, &total, &free));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  WCHAR path[MAX_PATH];
  ASSERT_TRUE(GetVolumePathNameW(wide("C:\\windows\\system32\\x.dll").c_str(), path, MAX_PATH));
  EXPECT_EQ(WideString(path), wide("C:\\"));
  EXPECT_FALSE(GetVolumePathNameW(wide("C:\\windows").c_str(), path, 2));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(wide("C:\\").c_str(), path, MAX_PATH));
  WideString volume = path;
  EXPECT_EQ(volume.rfind(wide("\\\\?\\Volume{"), 0), 0u);
  EXPECT_EQ(volume.substr(volume.size() - 2), wide("}\\"));
  EXPECT_FALSE(GetVolumeNameForVolumeMountPointW(wide("C:\\").c_str(), path, 10));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_FALSE(GetVolumeNameForVolumeMountPointW(wide("C:").c_str(), path, MAX_PATH));  // no trailing backslash
}

// The process-wide proxy settings, as the system bridge reads them: wininet looked
// up by name, its answer built from the current user's "Internet Settings".
TEST(Proxy, SettingsOfTheCurrentUser) {
  struct ProxyInfo {  // INTERNET_PROXY_INFO
    DWORD accessType;
    const char* proxy;
    const char* bypass;
  };
  typedef BOOL(WINAPI * QueryOption)(void*, DWORD, LPVOID, LPDWORD);
  auto query = reinterpret_cast<QueryOption>(
      reinterpret_cast<void*>(GetProcAddress(LoadLibraryA("wininet"), "InternetQueryOptionA")));
  ASSERT_NE(query, nullptr);
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char* names[] = {"ProxyEnable", "ProxyServer", "ProxyOverride"};
  struct Saved {
    DWORD type = 0, size = 0;
    std::vector<BYTE> data;
    bool had = false;
  } saved[3];
  for (int i = 0; i < 3; ++i) {
    Saved& value = saved[i];
    value.had = RegQueryValueExA(key, names[i], nullptr, &value.type, nullptr, &value.size) == ERROR_SUCCESS;
    value.data.resize(value.size);
    if (value.had) RegQueryValueExA(key, names[i], nullptr, &value.type, value.data.data(), &value.size);
  }
  DWORD enable = 1;
  RegSetValueExA(key, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof enable);
  RegSetValueExA(key, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>("proxy.example:8080"), 19);
  RegSetValueExA(key, "ProxyOverride", 0, REG_SZ, reinterpret_cast<const BYTE*>("<local>"), 8);
  DWORD size = 0;
  EXPECT_FALSE(query(nullptr, 38, nullptr, &size));  // INTERNET_OPTION_PROXY
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<BYTE> buffer(size);
  ASSERT_GE(size, sizeof(ProxyInfo));
  ASSERT_TRUE(query(nullptr, 38, buffer.data(), &size)) << GetLastError();
  ProxyInfo info;
  std::memcpy(&info, buffer.data(), sizeof info);
  EXPECT_EQ(info.accessType, 3u);  // INTERNET_OPEN_TYPE_PROXY
  EXPECT_STREQ(info.proxy, "proxy.example:8080");
  EXPECT_STREQ(info.bypass, "<local>");
  for (int i = 0; i < 3; ++i) {
    if (saved[i].had)
      RegSetValueExA(key, names[i], 0, saved[i].type, saved[i].data.data(), saved[i].size);
    else
      RegDeleteValueA(key, names[i]);
  }
  RegCloseKey(key);
}

TEST(SystemInformation, NamesVersionThreadModesAndConsole) {
  DWORD size = 0;
  EXPECT_FALSE(GetComputerNameExW(ComputerNameDnsHostname, nullptr, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  std::vector<WCHAR> name(size);
  ASSERT_TRUE(GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size));
  EXPECT_EQ(size + 1, name.size());  // the length without the terminator
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = 10;
  EXPECT_FALSE(GetVersionExA(&version));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  version.dwOSVersionInfoSize = sizeof version;
  ASSERT_TRUE(GetVersionExA(&version));
  EXPECT_EQ(version.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), 99));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  if (!onWine()) {  // Wine has no background mode
    EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_END));
    EXPECT_EQ(GetLastError(), 401u);  // ERROR_THREAD_MODE_NOT_BACKGROUND
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN));
    EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN));
    EXPECT_EQ(GetLastError(), 400u);  // ERROR_THREAD_MODE_ALREADY_BACKGROUND
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_END));
  }
  EXPECT_FALSE(SetConsoleCtrlHandler(consoleHandler, FALSE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

#endif

}  // namespace
