// Launch of the agent's Java console and the lookup of its windows.
//
// The console runs with javaw from the installation's own runtime folder
// ("OmJre\jre*"), with a heap sized to the machine, through the main form's
// console process component, so that the form can find its windows by the
// child's process id. An open console is brought forward instead of starting
// a second one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace om {

constexpr const char* kConsoleMainClass = "com.ombrel.agentconsole.boot.GuiMain";
constexpr const char* kAgentIndicatorClass = "OmbrelBackupWindowClass";
constexpr int kDefaultConsoleHeap = 1024;

// Heap of the console in MB from the configured value (0 = none) and the
// machine's physical memory in bytes (0 = unknown). Warn: the configured value
// was cut down (the user is told with both values).
struct TConsoleHeap {
  int Heap = kDefaultConsoleHeap;
  bool Warn = false;
};
TConsoleHeap ComputeConsoleHeap(int configured, uint64_t physicalBytes);

// The console's pass-through arguments: " " + extra (when not empty), then,
// unless noArguments, " " + each of this program's arguments in order.
std::string ConsoleArguments(const std::string& extra, bool noArguments,
                             const std::vector<std::string>& programArguments);

// The runtime folder of javaw (".../jre/bin/javaw.exe" -> ".../jre\"), with
// its trailing separator.
std::string RuntimeRoot(const std::string& javaw);

// The javaw of the last runtime folder (in the order given) that has one.
std::string SelectJavaw(const std::string& runtimeContainer, const std::vector<std::string>& runtimeFolders,
                        const std::function<bool(const std::string&)>& fileExists);

// The console's command line. The extension folder goes to a runtime of the
// Java 8 layout only (extensionFolder: it has "lib\ext"); later runtimes
// refuse to start with it.
std::string BuildConsoleCommandLine(const std::string& javaw, int heap, bool useDirectDraw,
                                    const std::string& programFolder, const std::string& arguments,
                                    bool extensionFolder);

// "application.memory" and "gui.useddraw" of ombackup.properties in folder
// (lines decoded from UTF-8). GetConfiguredMemory: 0 when the file, the key or
// a valid number is missing. GetUseDirectDraw: true when the file or the key
// is missing, else whether the value is "true" (letter case ignored).
int GetConfiguredMemory(const std::string& folder);
bool GetUseDirectDraw(const std::string& folder);
// The same for the program folder.
int GetConfiguredMemory();
bool GetUseDirectDraw();

// ---- Windows ----

// What the console launch needs from the tray's main form.
struct TConsoleHost {
  virtual ~TConsoleHost() = default;
  // Console process component (TDkCreateProcess): the child's process id while
  // it is waiting on one, else 0.
  virtual uint32_t ConsoleProcessId() = 0;
  // Console process: CommandLine := commandLine, CurrentDirectory := folder,
  // LaunchProcess (WaitForTerminate stays true). Failures propagate.
  virtual void LaunchConsoleProcess(const std::string& commandLine, const std::string& folder) = 0;
  // RefreshServiceState of the status display: the current service state.
  virtual uint8_t RefreshServiceState() = 0;
  // SetTrayIcons(index) of the form.
  virtual void SetTrayIcons(int index) = 0;
  // Brings the status form's window to the front.
  virtual void BringFormToFront() = 0;
  // A message box with text (Application's message box).
  virtual void ShowMessage(const std::string& text) = 0;
  // A warning dialog with an OK button.
  virtual void ShowWarning(const std::string& text) = 0;
  // The form's brand long name field; the application title.
  virtual std::string BrandLongName() = 0;
  virtual void SetApplicationTitle(const std::string& title) = 0;
  // The form's language code field and LoadTexts.
  virtual std::string LanguageCode() = 0;
  virtual void SetLanguageCode(const std::string& code) = 0;
  virtual void LoadTexts() = 0;
  // Tray icon ShowBalloon(title, text, kind (2 information), milliseconds,
  // true) and HideBalloons; Application.ProcessMessages.
  virtual void ShowBalloon(const std::string& title, const std::string& text) = 0;
  virtual void HideBalloons() = 0;
  virtual void ProcessMessages() = 0;
  // Screen cursor: busy (application start) or default.
  virtual void SetBusyCursor(bool busy) = 0;
  // This program's arguments (ParamStr 1..n).
  virtual std::vector<std::string> ProgramArguments() = 0;
};

// Physical memory in bytes used for the heap limit; by default the system's
// GlobalMemoryStatusEx. The program may route it to the support library's
// physicalMemoryTotal; tests stand in other sizes.
using TPhysicalMemoryQuery = uint64_t (*)();
void SetPhysicalMemoryQuery(TPhysicalMemoryQuery query);

// The console's first window: of the console process (the component's child,
// else the process of the agent's indicator window), "SunAwtWindow", then
// "SunAwtFrame", then "SunAwtDialog". Null when none.
void* FindGuiWindow(TConsoleHost& host);
// A console window exists and the foreground window belongs to its process.
bool IsGuiInForeground(TConsoleHost& host);
// Brings an open console forward or starts one (a console this program started
// that shows no window yet is let come forward instead); commandLine receives
// the command line built (empty when it stopped before building one).
void LaunchJavaGui(TConsoleHost& host, std::string& commandLine, const std::string& extra, bool noArguments);

}  // namespace om
