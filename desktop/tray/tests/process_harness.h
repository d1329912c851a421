// Helpers of the process tests: a fresh folder with copies of the programs
// under test, starting programs, and the host's event log.
#pragma once

#include "platform/win32.h"

#include <gtest/gtest.h>

#include "platform/testing/temp_folder.h"
#include "platform/win32_owners.h"

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace om::testing {

// A build path (forward slashes, as CMake writes it) as Wine sees it.
inline std::string WinePath(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path.size() > 1 && path[1] == ':' ? path : "Z:" + path;
}

class TProcessFolder {
public:
  explicit TProcessFolder(const std::string& tag = "p") : FFolder("om-units-" + tag + "-"), FPath(FFolder.path()) {}
  // Stand-in programs still running there see "stop" and end before the
  // folder goes.
  ~TProcessFolder() {
    Write("stop", "");
    Sleep(400);
  }
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& rel) const { return FPath + "\\" + rel; }
  void Copy(const std::string& source, const std::string& rel) const {
    MakeFolders(rel);
    EXPECT_TRUE(CopyFileA(source.c_str(), File(rel).c_str(), FALSE)) << source << " -> " << File(rel);
  }
  void Write(const std::string& rel, const std::string& bytes) const {
    MakeFolders(rel);
    const UniqueFile f(CreateFileA(File(rel).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written;
    WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  }
  bool Exists(const std::string& rel) const { return GetFileAttributesA(File(rel).c_str()) != INVALID_FILE_ATTRIBUTES; }
  std::string Read(const std::string& rel) const {
    const UniqueFile f(CreateFileA(File(rel).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                   nullptr));
    if (!f) return std::string();
    std::string text;
    char buf[4096];
    DWORD n;
    while (ReadFile(f.get(), buf, sizeof buf, &n, nullptr) && n > 0) text.append(buf, n);
    return text;
  }
  // Lines of events.log in the sub-folder rel (empty: the folder itself).
  std::vector<std::string> Events(const std::string& rel = std::string()) const {
    std::string text = Read(rel.empty() ? "events.log" : rel + "\\events.log");
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t p; (p = text.find("\r\n", start)) != std::string::npos; start = p + 2)
      lines.push_back(text.substr(start, p - start));
    return lines;
  }
  // Waits (up to 60 s, Wine can be slow) until events hold a line that
  // contains what; true when it came.
  bool WaitForEvent(const std::string& what, const std::string& rel = std::string(), int count = 1) const {
    for (int i = 0; i < 600; ++i) {
      int seen = 0;
      for (const std::string& l : Events(rel))
        if (l.find(what) != std::string::npos) ++seen;
      if (seen >= count) return true;
      Sleep(100);
    }
    return false;
  }
  int CountEvents(const std::string& what, const std::string& rel = std::string()) const {
    int n = 0;
    for (const std::string& l : Events(rel))
      if (l.find(what) != std::string::npos) ++n;
    return n;
  }

private:
  void MakeFolders(const std::string& rel) const {
    for (size_t p = rel.find('\\'); p != std::string::npos; p = rel.find('\\', p + 1))
      CreateDirectoryA(File(rel.substr(0, p)).c_str(), nullptr);
  }
  TempFolder FFolder;
  std::string FPath;
};

// A started program; its exit code once it ended.
class TProcess {
public:
  TProcess(const std::string& exe, const std::string& args, const std::string& folder = std::string()) {
    std::string cmd = "\"" + exe + "\"" + args;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    Started = CreateProcessA(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                             folder.empty() ? nullptr : folder.c_str(), &si, &pi) != 0;
    if (!Started) Error = GetLastError();
    if (Started) {
      UniqueHandle thread(pi.hThread);
      FProcess.reset(pi.hProcess);
      Id = pi.dwProcessId;
    }
  }
  ~TProcess() {
    if (FProcess && WaitForSingleObject(FProcess.get(), 0) == WAIT_TIMEOUT) TerminateProcess(FProcess.get(), 99);
  }
  // Exit code, or -1 when it did not end within timeoutMs.
  long Wait(DWORD timeoutMs = 60000) {
    if (!FProcess || WaitForSingleObject(FProcess.get(), timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(FProcess.get(), &code);
    return static_cast<long>(code);
  }
  bool Started = false;
  DWORD Error = 0;  // why it did not start
  DWORD Id = 0;

private:
  UniqueHandle FProcess;
};

}  // namespace om::testing
