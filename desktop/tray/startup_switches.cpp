#include "tray/startup_switches.h"

#include "framework/strutils.h"
#include "tray/handover.h"

namespace om {

bool SkipInterface = false;
uint32_t StartupExitCode = 0;

std::vector<std::string> ParamStrList(const std::string& commandLine) {
  std::vector<std::string> args;
  for (size_t p = SkipToArgument(commandLine, 0); p < commandLine.size() && commandLine[p] != '\0';
       p = SkipToArgument(commandLine, p)) {
    std::string arg;
    p = ReadArgument(commandLine, p, &arg);
    args.push_back(arg);
  }
  return args;
}

bool FindCmdLineSwitch(const std::vector<std::string>& args, const std::string& word) {
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() == word.size() + 1 && (a[0] == '-' || a[0] == '/') && SameText(a.substr(1), word)) return true;
  }
  return false;
}

std::string ParamStr(const std::vector<std::string>& args, size_t index) {
  return index < args.size() ? args[index] : std::string();
}

bool StartupNeedsInstanceSearch(const std::vector<std::string>& args) {
  return !FindCmdLineSwitch(args, "AddScheduledTask") && !FindCmdLineSwitch(args, "RemoveScheduledTask");
}

TStartupAction DecideStartupAction(const std::vector<std::string>& args, bool instanceRunning) {
  if (FindCmdLineSwitch(args, "AddScheduledTask")) return TStartupAction::CreateScheduledTask;
  if (FindCmdLineSwitch(args, "RemoveScheduledTask")) return TStartupAction::RemoveScheduledTask;
  const bool close = FindCmdLineSwitch(args, "close");
  const bool upgrade = FindCmdLineSwitch(args, "upgrade");
  if (instanceRunning && !close && !upgrade)
    return FindCmdLineSwitch(args, "min") ? TStartupAction::EndQuietly : TStartupAction::HandOver;
  if (close) return instanceRunning ? TStartupAction::CloseInstance : TStartupAction::CloseNoInstance;
  return upgrade && instanceRunning ? TStartupAction::UpgradeGoOn : TStartupAction::GoOn;
}

namespace {
std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}
}  // namespace

bool WindowClassMatches(const std::string& windowClass, const std::string& wanted) {
  if (windowClass.empty()) return false;
  // Compare as many characters as the window's class name has; a wanted name
  // shorter than that fails at its end.
  if (wanted.size() < windowClass.size()) return false;
  return SameText(windowClass, wanted.substr(0, windowClass.size()));
}

bool AcceptWindowProcessFolder(const std::string& imageFolder, const std::string& programFolder,
                               const std::function<bool(const std::string&)>& fileExists) {
  size_t p = Lower(imageFolder).find("\\omjre");
  if (p == std::string::npos) return SameText(imageFolder, programFolder);
  std::string install = imageFolder.substr(0, p);
  if (fileExists(install + "\\ombackup.exe") || fileExists(install + "\\lib\\omgui.jar"))
    return SameText(install, programFolder);
  return true;
}

}  // namespace om
