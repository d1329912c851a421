// Windows side of the logon task: the definition file and schtasks.exe.
#include "platform/win32.h"

#include "tray/logon_task.h"

#include "framework/streams.h"
#include "tray/resources.h"
#include "tray/routines.h"
#include "tray/startup_switches.h"
#include "tray/tray_platform.h"

namespace om {

namespace {

bool WindowsVistaOrLater() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info)) return false;
#pragma GCC diagnostic pop
  return info.dwMajorVersion >= 6;
}

std::u16string AnsiToWide(const std::string& s) {
  if (s.empty()) return std::u16string();
  int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::u16string w(static_cast<size_t>(n > 0 ? n : 0), u'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), reinterpret_cast<wchar_t*>(&w[0]), n);
  return w;
}

}  // namespace

std::u16string ExpandEnvironmentW(const std::u16string& text) {
  wchar_t buffer[2048] = {};
  DWORD n = ExpandEnvironmentStringsW(reinterpret_cast<const wchar_t*>(text.c_str()), buffer, 2047);
  if (n == 0 || n > 2047) return std::u16string();
  return std::u16string(reinterpret_cast<const char16_t*>(buffer));
}

uint32_t RunSchTasks(const std::string& parameters) {
  return ShellExecuteAndWait(ProgramFolder(), "schtasks.exe", parameters, nullptr, SW_HIDE, nullptr);
}

uint32_t CreateScheduledTask(const std::vector<std::string>& args) {
  if (!WindowsVistaOrLater()) return 0;
  const std::string folder = ProgramFolder();
  const std::string userArg = ParamStr(args, 2);
  const std::u16string user = userArg.empty() ? ExpandEnvironmentW(u"%UserName%") : AnsiToWide(userArg);
  const std::u16string text = BuildTaskDefinition(AnsiToWide(folder), AnsiToWide(ExtractFileName(ProgramFileName())),
                                                  ExpandEnvironmentW(u"%UserDomain%"), user);
  const std::string taskName = GetTaskName(args, GetSecondaryResourceString("brandLongName"));
  const std::string path = folder + "\\" + kTaskDefinitionFile;
  if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) DeleteFileA(path.c_str());
  uint32_t code = 0;
  try {
    {
      const std::string bytes = Utf16LeBytes(text);
      TFileStream file(path, fmCreate);
      file.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    }
    code = RunSchTasks(CreateTaskParameters(path, taskName));
    if (code == 0 && FindCmdLineSwitch(args, "RunTask")) code = RunSchTasks(RunTaskParameters(taskName));
  } catch (...) {
    DeleteFileA(path.c_str());
    throw;
  }
  DeleteFileA(path.c_str());
  return code;
}

uint32_t RemoveScheduledTask(const std::vector<std::string>& args) {
  if (!WindowsVistaOrLater()) return 0;
  return RunSchTasks(DeleteTaskParameters(GetTaskName(args, GetSecondaryResourceString("brandLongName"))));
}

}  // namespace om
