// omloader: the program shortcuts and installers start instead of the tray
// monitor. When the tray program beside it already runs, it hands its
// command-line tail over through the hand-over file and brings the tray's
// window forward; otherwise it starts the tray program with the same tail.
// "-close" asks a running tray to end (up to 5 s) and then starts the tray
// program with "-close" as well, which finishes the job.
#include "platform/win32.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>

#include "framework/processstatus.h"
#include "platform/win32_owners.h"
#include "tray/handover.h"

namespace {

using TQueryFullProcessImageNameA = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, PDWORD);

TQueryFullProcessImageNameA gQueryFullProcessImageNameA = nullptr;

void BindEntryPoints() {
  om::EnsureProcessStatusLibrary();
  if (HMODULE kernel = GetModuleHandleA("kernel32.dll"))
    gQueryFullProcessImageNameA = reinterpret_cast<TQueryFullProcessImageNameA>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "QueryFullProcessImageNameA")));
}

void FreePsapi() { om::FreeProcessStatusLibrary(); }

bool GetProcessImagePath(DWORD processId, char (&buffer)[MAX_PATH]) {
  buffer[0] = 0;
  om::UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  if (process) return om::CallLoadedPsapiFunction(process.get(), nullptr, buffer, MAX_PATH) > 0;
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

// The identity of a file as the system reports it: the file a loader placed is
// never mistaken for another loader's file under the same name.
struct TFileIdentity {
  DWORD Volume = 0, IndexHigh = 0, IndexLow = 0;
  FILETIME Written{};
  bool operator==(const TFileIdentity& o) const {
    return Volume == o.Volume && IndexHigh == o.IndexHigh && IndexLow == o.IndexLow &&
           Written.dwLowDateTime == o.Written.dwLowDateTime && Written.dwHighDateTime == o.Written.dwHighDateTime;
  }
};

bool IdentityOf(HANDLE file, TFileIdentity& id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow, info.ftLastWriteTime};
  return true;
}

[[noreturn]] void RaiseFileError(const char* what, const std::string& path, DWORD error) {
  throw std::runtime_error(std::string(what) + " \"" + path + "\". " + om::systemMessage(error));
}

// Puts text into path unless a file is there already: the text is written to a
// file of this loader's own beside it and moved into place, so the tray never
// reads it half written and a text another loader handed over is never
// replaced. False when a file is in place; placed receives the file's identity.
bool PlaceParamsFile(const std::string& path, const std::string& text, TFileIdentity& placed) {
  const std::string own = path + "." + std::to_string(GetCurrentProcessId());
  {
    const om::UniqueFile file(CreateFileA(own.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) RaiseFileError("Cannot create file", own, GetLastError());
    DWORD written = 0;
    const bool ok = (text.empty() || (WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                                                nullptr) &&
                                      written == text.size())) &&
                    IdentityOf(file.get(), placed);
    if (!ok) {
      const DWORD error = GetLastError();
      DeleteFileA(own.c_str());
      RaiseFileError("Cannot write file", own, error);
    }
  }
  if (MoveFileA(own.c_str(), path.c_str())) return true;
  const DWORD error = GetLastError();
  DeleteFileA(own.c_str());
  // A file in place, or one the tray is taking or deleting.
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS || error == ERROR_ACCESS_DENIED ||
      error == ERROR_SHARING_VIOLATION)
    return false;
  RaiseFileError("Cannot create file", path, error);
}

// A failed write is tried once more after 100 ms; ignoreSecondError: a second
// failure counts as a file in place.
bool PlaceWithRetry(const std::string& path, const std::string& text, TFileIdentity& placed, bool ignoreSecondError) {
  try {
    return PlaceParamsFile(path, text, placed);
  } catch (const std::exception&) {
    Sleep(100);
    try {
      return PlaceParamsFile(path, text, placed);
    } catch (const std::exception&) {
      if (!ignoreSecondError) throw;
      return false;
    }
  }
}

// The identity of the file at path; false when there is none (or it is going).
bool IdentityAt(const std::string& path, TFileIdentity& id) {
  const om::UniqueFile file(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  return file && IdentityOf(file.get(), id);
}

// The file at path is the one placed: the tray has not taken it yet.
bool StillInPlace(const std::string& path, const TFileIdentity& placed) {
  TFileIdentity now;
  return IdentityAt(path, now) && now == placed;
}

// A loader that gives up on its file says so before it removes it, through an
// event named after the file; a loader waiting behind that file holds the
// event, so once the file is gone it tells the tray's taking it from its
// loader's withdrawal.
std::string WithdrawalEventName(const TFileIdentity& id) {
  char name[80];
  std::snprintf(name, sizeof name, "omparams-withdrawn-%08lX-%08lX%08lX-%08lX%08lX",
                static_cast<unsigned long>(id.Volume), static_cast<unsigned long>(id.IndexHigh),
                static_cast<unsigned long>(id.IndexLow), static_cast<unsigned long>(id.Written.dwHighDateTime),
                static_cast<unsigned long>(id.Written.dwLowDateTime));
  return name;
}

// Deletes the file at path when it is the one placed (through the handle that
// told so, so no file put there since is touched), saying first that it is
// withdrawn. False when it is not deleted: gone, another file, or held by the
// tray taking it.
bool RemovePlacedFile(const std::string& path, const TFileIdentity& placed) {
  const om::UniqueFile file(CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  TFileIdentity now;
  if (!file || !IdentityOf(file.get(), now) || !(now == placed)) return false;
  const om::UniqueHandle withdrawn(CreateEventA(nullptr, TRUE, TRUE, WithdrawalEventName(placed).c_str()));
  if (withdrawn) SetEvent(withdrawn.get());  // it may be the waiters' event, made unsignalled
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// A file another loader placed, waited behind: who it is and, once it was
// seen in place after the event was had, its withdrawal event.
struct TWaitedFile {
  bool Present = false;
  TFileIdentity Id;
  om::UniqueHandle Withdrawn;  // null: not had while the file was in place
  bool Is(const TWaitedFile& o) const { return Present == o.Present && (!Present || Id == o.Id); }
  // Gone because the tray took it, not because its loader withdrew it.
  bool Taken() const {
    return Present && Withdrawn && WaitForSingleObject(Withdrawn.get(), 0) == WAIT_TIMEOUT;
  }
};

TWaitedFile WaitedFileAt(const std::string& path) {
  TWaitedFile waited;
  waited.Present = IdentityAt(path, waited.Id);
  if (!waited.Present) return waited;
  om::UniqueHandle event(CreateEventA(nullptr, TRUE, FALSE, WithdrawalEventName(waited.Id).c_str()));
  // Still in place once the event is had: a withdrawal from now on signals it.
  if (event && StillInPlace(path, waited.Id)) waited.Withdrawn = std::move(event);
  return waited;
}

// The tray takes one file a tick. A loader waits for its turn as long as the
// tray keeps taking files; when it has taken none for this long (since the
// loader's start or the last take), it is not reading them.
constexpr DWORD kHandOverStall = om::kHandOverWaitMs;

// Hands tail over through path, waiting while the tray takes the texts of
// loaders before this one, and then until it takes this one's: only then has
// the tray the words. False when the tray took nothing in time; this loader's
// own file is then removed, so no later tray acts on words said to have
// failed. Files that other loaders withdrew are no takes.
bool HandOver(const std::string& path, const std::string& tail) {
  DWORD lastTake = GetTickCount();
  TWaitedFile seen = WaitedFileAt(path);
  TFileIdentity placed;
  while (!PlaceWithRetry(path, tail, placed, false)) {
    TWaitedFile now = WaitedFileAt(path);
    if (!now.Is(seen) && seen.Taken()) lastTake = GetTickCount();
    if (!now.Is(seen) || !seen.Withdrawn) seen = std::move(now);
    if (GetTickCount() - lastTake >= kHandOverStall) return false;
    Sleep(50);
  }
  if (seen.Taken()) lastTake = GetTickCount();  // the file before this one's
  while (StillInPlace(path, placed)) {
    const DWORD waited = GetTickCount() - lastTake;
    if (waited >= kHandOverStall && RemovePlacedFile(path, placed)) return false;
    // Neither taken nor removable (held by someone else): left as it is.
    if (waited >= 2 * kHandOverStall) return false;
    Sleep(50);
  }
  return true;
}

// A failure the user hears of (unless told to keep silent) and a script sees
// too: the system's error code is the exit code.
int Fail(DWORD error, bool silent = false) {
  SetLastError(error);
  if (!silent) ShowLaunchError("Unable to Launch Backup Client");
  return error != 0 ? static_cast<int>(error) : 1;
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
        const bool handedOver = HandOver(path, tail);
        FreePsapi();
        return handedOver ? 0 : Fail(ERROR_TIMEOUT, om::HandOverIsSilent(tail));
      }
      // The close is handed over again while the window lasts; what this
      // loader put in place and the tray did not take is removed at the end.
      TFileIdentity placed;
      bool placedOnce = false;
      const DWORD start = GetTickCount();
      while (w && GetTickCount() - start < 5000) {
        if (!placedOnce || !StillInPlace(path, placed)) {
          TFileIdentity next;
          if (PlaceWithRetry(path, tail, next, true)) {
            placed = next;
            placedOnce = true;
          }
        }
        Sleep(100);
        w = FindTrayWindow("TfrmServiceStatus", candidate, image);
      }
      if (placedOnce) RemovePlacedFile(path, placed);
      if (w) exitCode = 1;
    } else if (close) {
      FreePsapi();
      return 0;
    }
  }
  FreePsapi();
  HINSTANCE result = ShellExecuteA(nullptr, nullptr, candidate.c_str(), tail.c_str(), folder.c_str(), SW_SHOWDEFAULT);
  if (reinterpret_cast<uintptr_t>(result) <= 32) return Fail(GetLastError());
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
