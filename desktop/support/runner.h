// Child-process runner: the parts that need no system call. Mapping of the
// runner's creation flags, priority and window placement onto the values the
// system takes; the shared buffer a pipe-reader thread fills; and the line
// assembly of a reader, which treats the child's output like a console does
// (carriage return to the line start, backspace one back, tab eight blanks,
// line feed ends the line).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace om {

enum TDkCPSFlag {
  cfDefaultErrorMode,
  cfNewConsole,
  cfNewProcGroup,
  cfSeparateWdm,
  cfSharedWdm,
  cfSuspended,
  cfUnicode,
  cfDetached,
};
using TDkCPSFlags = uint32_t;  // bit (1 << flag) per member
constexpr TDkCPSFlags cpsFlag(TDkCPSFlag f) { return 1u << f; }

enum TDkProcessPriority { ppIdle, ppNormal, ppHigh, ppRealTime };

enum TDkConsoleOption { coOwnerData, coRedirect, coSeparateError };
using TDkConsoleOptions = uint32_t;
constexpr TDkConsoleOptions consoleOption(TDkConsoleOption o) { return 1u << o; }

enum TDkCPSShowWindow { swHide, swMinimize, swMaximize, swNormal };

// The system's values.
uint32_t creationFlagOf(TDkCPSFlag flag);
uint32_t priorityClassOf(TDkProcessPriority priority);
uint16_t showWindowOf(TDkCPSShowWindow show);
// Priority class plus the creation flag of each member.
uint32_t creationFlagsOf(TDkProcessPriority priority, TDkCPSFlags flags);

// Window placement and feedback of the child's first window.
struct TDkCPSStartupInfo {
  std::string Desktop;
  std::string Title;
  int32_t Left = 0;
  int32_t Top = 0;
  bool DefaultPosition = true;
  int32_t Width = 0;
  int32_t Height = 0;
  bool DefaultSize = true;
  TDkCPSShowWindow ShowWindow = swNormal;
  bool DefaultWindowState = true;
  bool ForceOnFeedback = false;
  bool ForceOffFeedback = false;

  // Copies all twelve fields.
  void AssignTo(TDkCPSStartupInfo& dest) const { dest = *this; }
};

// The fields of the system's start-up record the runner sets.
struct TDkStartupRecord {
  uint32_t dwFlags = 0;
  uint32_t dwX = 0, dwY = 0, dwXSize = 0, dwYSize = 0;
  uint16_t wShowWindow = 0;
  const char* lpDesktop = nullptr;  // into the TDkCPSStartupInfo; nullptr when empty
  const char* lpTitle = nullptr;
};
constexpr uint32_t kStartfUseShowWindow = 0x1;
constexpr uint32_t kStartfUseSize = 0x2;
constexpr uint32_t kStartfUsePosition = 0x4;
constexpr uint32_t kStartfForceOnFeedback = 0x40;
constexpr uint32_t kStartfForceOffFeedback = 0x80;
constexpr uint32_t kStartfUseStdHandles = 0x100;

TDkStartupRecord startupRecordOf(const TDkCPSStartupInfo& info);

// The buffer between a pipe-reader thread and the main thread (the caller
// holds the lock around each call). Starts at 1024 bytes and doubles while it
// is at most 64 KiB; beyond that, output that does not fit drops what is still
// unread instead of growing further.
class TDkReadBuffer {
public:
  static constexpr size_t kChunk = 1024;
  static constexpr size_t kGrowLimit = 65536;

  TDkReadBuffer() : FData(kChunk) {}
  void Append(const char* data, size_t size);
  // Moves up to kChunk bytes into chunk; false when nothing is buffered.
  bool Take(std::string& chunk);
  size_t Used() const { return FUsed; }
  size_t Capacity() const { return FData.size(); }

private:
  std::vector<char> FData;
  size_t FUsed = 0;
};

// A reader's line assembly. Events fire only when set. The work is linear in
// the output: the line list's last entry shares the line being written until
// the list is read or the line ends, so a long line is not copied per chunk.
class TDkLineAssembler {
public:
  std::function<void(const std::string& raw)> OnRawRead;
  std::function<void(const std::string& line, bool startsOnNewLine)> OnRead;
  // Keep no line list (the runner's coOwnerData).
  bool OwnerData = true;

  // Ready for a new pipe: a new line starts, empty, cursor at 0.
  void Reset();
  // One chunk of output: the raw event, then the lines it completes or changes.
  void Split(const std::string& chunk);
  // The pipe ended: a line still being written that was not reported yet is
  // emitted as not ended.
  void Finish();

  const std::vector<std::string>& Lines() const;
  const std::string& CurrentLine() const { return FLine; }
  int Cursor() const { return FCursor; }
  bool StartsOnNewLine() const { return FStartsOnNewLine; }

private:
  void writeRun(const char* data, size_t size);
  void emit(bool ended);
  // Gives the list's last entry the current line when it stands for it.
  void syncLastEntry() const;

  mutable std::vector<std::string> FLines;
  // The list's last entry stands for FLine (not copied yet).
  mutable bool FLastEntryIsLine = false;
  std::string FLine;
  int FCursor = 0;
  bool FStartsOnNewLine = true;
  // FLine changed since it was last reported.
  bool FUnreported = false;
};

}  // namespace om
