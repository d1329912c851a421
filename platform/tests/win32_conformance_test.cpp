// Win32 behaviour the project relies on, checked on every target: natively this
// tests our stand-in, under Wine the real API, so both must agree.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/testing/temp_folder.h"
#include "platform/win32.h"

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

std::vector<std::string> listing(const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do names.push_back(data.cFileName);
  while (FindNextFileA(find, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  FindClose(find);
  return names;
}

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
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
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
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
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
  DWORD attributes = GetFileAttributesA(winPath(folder, "F.TXT").c_str());  // names ignore case on Windows
  (void)attributes;
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

}  // namespace
