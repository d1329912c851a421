#include "tray/routines.h"

#include "platform/win32.h"

#include <cstdlib>
#include <ctime>
#include <vector>

#include "framework/strutils.h"
#include "platform/win32_owners.h"
#include "tray/tray_platform.h"

namespace om {

std::atomic<bool> ShuttingDown{false};

namespace {
// The runtime's random numbers are seeded from the clock at start; ShuttingDown
// is set when the program's static objects end.
struct TRoutinesUnit {
  TRoutinesUnit() { std::srand(static_cast<unsigned>(std::time(nullptr)) ^ GetTickCount()); }
  ~TRoutinesUnit() { ShuttingDown = true; }
} gRoutinesUnit;

bool IsDotEntry(const char* name) { return name[0] == '.' && (name[1] == 0 || name[1] == '.'); }
}  // namespace


void FindFiles(const std::string& folderIn, const std::string& mask, bool recurse, TStringList& list,
               const std::string& baseIn) {
  if (folderIn.empty()) return;
  std::string folder = IncludeTrailingPathDelimiter(folderIn);
  std::string base = baseIn.empty() ? folder : baseIn;
  std::string prefix = folder.size() > base.size() ? folder.substr(base.size()) : std::string();
  WIN32_FIND_DATAA fd;
  UniqueFind find(FindFirstFileA((folder + mask).c_str(), &fd));
  if (!find) return;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      list.Add(prefix + fd.cFileName);
    } else if (recurse && !IsDotEntry(fd.cFileName)) {
      FindFiles(folder + fd.cFileName + "\\", mask, true, list, base);
    }
  } while (FindNextFileA(find.get(), &fd));
}

std::string ExtractProgramPath(const std::string& commandLine) {
  if (!commandLine.empty() && commandLine[0] == '"') {
    std::string quoted;
    size_t i = 1;
    for (; i < commandLine.size(); ++i) {
      if (commandLine[i] == '"') {
        if (i + 1 < commandLine.size() && commandLine[i + 1] == '"') {
          quoted += '"';
          ++i;
          continue;
        }
        break;
      }
      quoted += commandLine[i];
    }
    if (!quoted.empty()) return quoted;
  }
  const std::string trimmed = Trim(commandLine);
  std::string text = trimmed;
  while (!text.empty() && !FileExists(text)) {
    size_t blank = text.rfind(' ');
    if (blank == std::string::npos) return trimmed;  // no leading part names a file
    text.resize(blank);
  }
  return text.empty() ? trimmed : text;
}

void ListSubfolders(TStringList& list, const std::string& folderIn, const std::string& prefix, bool sort,
                    bool caseSensitive) {
  std::string folder = folderIn.empty() ? folderIn : IncludeTrailingPathDelimiter(folderIn);
  list.Clear();
  WIN32_FIND_DATAA fd;
  UniqueFind find(FindFirstFileA((folder + "*.*").c_str(), &fd));
  if (find) {
    do {
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsDotEntry(fd.cFileName)) continue;
      std::string name = fd.cFileName;
      bool match = prefix.empty();
      if (!match && name.size() >= prefix.size()) {
        std::string head = name.substr(0, prefix.size());
        match = caseSensitive ? head == prefix : SameText(head, prefix);
      }
      if (match) list.Add(name);
    } while (FindNextFileA(find.get(), &fd));
  }
  if (sort) list.SetSorted(true);
}

uint32_t TicksSince(uint32_t start) { return TicksBetween(start, GetTickCount()); }

std::string ExpandEnvironment(const std::string& text) {
  std::vector<char> buf(2048);
  for (;;) {
    DWORD n = ExpandEnvironmentStringsA(text.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::string();
    if (n <= buf.size()) return std::string(buf.data());
    buf.resize(n);
  }
}

uint32_t ShellExecuteAndWait(const std::string& folder, const std::string& file, const std::string& parameters,
                             const TWaitCallback& onWait, int show, void* ownerWindow) {
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT | SEE_MASK_FLAG_NO_UI;
  info.hwnd = static_cast<HWND>(ownerWindow);
  info.lpFile = file.c_str();
  info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
  info.nShow = show;
  if (!ShellExecuteExA(&info)) RaiseLastOSError();
  const UniqueHandle process(info.hProcess);
  if (!process) return 0;
  while (WaitForSingleObject(process.get(), 500) == WAIT_TIMEOUT) {
    if (ShuttingDown) break;
    if (onWait) onWait();
  }
  DWORD code;
  if (!GetExitCodeProcess(process.get(), &code)) code = 1;
  return code;
}

}  // namespace om
