// omloader: the program shortcuts and installers start instead of the tray
// monitor. When the tray program beside it already runs, it hands its
// command-line tail over through the hand-over file and brings the tray's
// window forward; otherwise it starts the tray program with the same tail.
// "-close" asks a running tray to end (up to 5 s) and then starts the tray
// program with "-close" as well, which finishes the job.
#include "platform/win32.h"

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

#include "platform/win32_owners.h"
#include "tray/handover.h"

namespace {

using TGetModuleFileNameExA = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
using TQueryFullProcessImageNameA = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, PDWORD);

om::UniqueModule gPsapi;
TGetModuleFileNameExA gGetModuleFileNameExA = nullptr;
TQueryFullProcessImageNameA gQueryFullProcessImageNameA = nullptr;

template <typename T>
T Bind(HMODULE module, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void BindEntryPoints() {
  HMODULE psapi = LoadLibraryA("psapi.dll");
  if (reinterpret_cast<uintptr_t>(psapi) > 31) {
    gPsapi.reset(psapi);
    gGetModuleFileNameExA = Bind<TGetModuleFileNameExA>(psapi, "GetModuleFileNameExA");
  }
  if (HMODULE kernel = GetModuleHandleA("kernel32.dll"))
    gQueryFullProcessImageNameA = Bind<TQueryFullProcessImageNameA>(kernel, "QueryFullProcessImageNameA");
}

void FreePsapi() {
  gGetModuleFileNameExA = nullptr;
  gPsapi.reset();
}

bool GetProcessImagePath(DWORD processId, char (&buffer)[MAX_PATH]) {
  buffer[0] = 0;
  om::UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  if (process) return gGetModuleFileNameExA && gGetModuleFileNameExA(process.get(), nullptr, buffer, MAX_PATH) > 0;
  if (GetLastError() != ERROR_ACCESS_DENIED || !gQueryFullProcessImageNameA) return false;
  process.reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return false;
  DWORD size = MAX_PATH;
  return gQueryFullProcessImageNameA(process.get(), 0, buffer, &size) != 0;
}

struct TTraySearch {
  const char* ClassName;
  const char* ProgramPath;
  HWND Found;
  std::string Image;  // the found process's path as the system spells it
};

BOOL CALLBACK FindTrayWindowProc(HWND window, LPARAM param) {
  auto& search = *reinterpret_cast<TTraySearch*>(param);
  char cls[257] = {};
  if (GetClassNameA(window, cls, 256) <= 0 || lstrcmpiA(cls, search.ClassName) != 0) return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char image[MAX_PATH];
  if (!GetProcessImagePath(pid, image)) return TRUE;
  image[MAX_PATH - 1] = 0;
  if (lstrcmpiA(image, search.ProgramPath) != 0) return TRUE;
  search.Found = window;
  search.Image = image;
  return FALSE;
}

// image receives the running program's path in its own spelling.
HWND FindTrayWindow(const char* className, const std::string& programPath, std::string& image) {
  TTraySearch search{className, programPath.c_str(), nullptr, std::string()};
  EnumWindows(FindTrayWindowProc, reinterpret_cast<LPARAM>(&search));
  if (search.Found) image = search.Image;
  return search.Found;
}

std::string ExpandEnvironment(const std::string& text) {
  std::string buffer(2048, '\0');
  for (;;) {
    DWORD n = ExpandEnvironmentStringsA(text.c_str(), &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n <= buffer.size()) return std::string(buffer.c_str());
    buffer.assign(n, '\0');
  }
}

// Creates every missing folder of path (a folder path with a trailing separator).
void ForceFolders(const std::string& path) {
  for (size_t i = 0; i < path.size(); ++i) {
    if ((path[i] == '\\' || path[i] == '/') && i > 0 && path[i - 1] != ':' && path[i - 1] != '\\') {
      CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
    }
  }
}

bool FileExists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

void ShowLaunchError(const char* caption) {
  std::string text = om::systemMessage(GetLastError());
  while (!text.empty() && (static_cast<unsigned char>(text.back()) < 33 || text.back() == '.')) text.pop_back();
  MessageBoxA(nullptr, text.c_str(), caption, MB_TASKMODAL | MB_ICONERROR);
}

bool IsLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }

// The command line after the program name, its leading blanks kept.
const char* GetCommandTail(const char* commandLine) {
  if (!commandLine) return "";
  return commandLine + om::SkipProgramName(commandLine, IsLeadByte);
}

// Creates the hand-over file holding tail unless one is there already: a
// text another loader handed over and the tray has not yet taken is not
// replaced. False when a file is in place.
bool CreateParamsFile(const std::string& path, const std::string& tail) {
  const om::UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  if (!file) {
    if (GetLastError() == ERROR_FILE_EXISTS) return false;
    om::WriteParamsFile(path, tail);  // raises the error
    return true;
  }
  DWORD written = 0;
  if (!tail.empty() && (!WriteFile(file.get(), tail.data(), static_cast<DWORD>(tail.size()), &written, nullptr) ||
                        written != tail.size()))
    throw std::runtime_error("Cannot write file \"" + path + "\". " + om::systemMessage(GetLastError()));
  return true;
}

// The running tray takes a file within about a second; one that stays longer
// is not being read and is replaced.
constexpr DWORD kHandOverWait = 3000;

// Hands tail over, waiting for a file in place to be taken first. The close
// loop writes again every 100 ms: it skips a file in place and a second error.
void WriteWithRetry(const std::string& path, const std::string& tail, bool closeLoop) {
  auto write = [&] {
    const DWORD start = GetTickCount();
    while (!CreateParamsFile(path, tail) && !closeLoop) {
      if (GetTickCount() - start >= kHandOverWait) {
        om::WriteParamsFile(path, tail);
        return;
      }
      Sleep(100);
    }
  };
  try {
    write();
  } catch (const std::exception&) {
    Sleep(100);
    try {
      write();
    } catch (const std::exception&) {
      if (!closeLoop) throw;
    }
  }
}

int RunLoader() {
  BindEntryPoints();
  const std::string tail = GetCommandTail(GetCommandLineA());

  std::string folder = om::moduleFileName();
  size_t slash = folder.rfind('\\');
  folder = slash == std::string::npos ? std::string() : folder.substr(0, slash);

  std::string candidate = folder + "\\omtray.exe";
  if (!FileExists(candidate)) candidate = folder + "\\Velbrook.exe";

  int exitCode = 0;
  if (FileExists(candidate)) {
    const bool close = om::HandOverRequestsClose(tail);
    std::string image;
    HWND w = FindTrayWindow("TfrmServiceStatus", candidate, image);
    if (w) {
      const std::string handOver = om::HandOverFolder(ExpandEnvironment("%TEMP%"));
      ForceFolders(handOver);
      // The tray names the file after its own path as the system reports it;
      // the same path in another letter case would name another file.
      const std::string path = handOver + om::ParamsFileName(image.empty() ? candidate : image);
      if (!close) {
        SetForegroundWindow(w);
        WriteWithRetry(path, tail, false);
        FreePsapi();
        return 0;
      }
      const DWORD start = GetTickCount();
      while (w && GetTickCount() - start < 5000) {
        WriteWithRetry(path, tail, true);
        Sleep(100);
        w = FindTrayWindow("TfrmServiceStatus", candidate, image);
      }
      if (w) {
        // Given up: a close left behind would end the next tray started.
        exitCode = 1;
        DeleteFileA(path.c_str());
      }
    } else if (close) {
      FreePsapi();
      return 0;
    }
  }
  FreePsapi();
  HINSTANCE result = ShellExecuteA(nullptr, nullptr, candidate.c_str(), tail.c_str(), folder.c_str(), SW_SHOWDEFAULT);
  if (reinterpret_cast<uintptr_t>(result) <= 32) {
    // A script sees the failure too: the system's error code as exit code.
    const DWORD error = GetLastError();
    ShowLaunchError("Unable to Launch Backup Client");
    return error != 0 ? static_cast<int>(error) : 1;
  }
  return exitCode;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  try {
    return RunLoader();
  } catch (const std::exception& e) {
    // Like the run-time library's report of an unhandled error.
    MessageBoxA(nullptr, e.what(), "omloader", MB_TASKMODAL | MB_ICONERROR);
    return 217;
  }
}
