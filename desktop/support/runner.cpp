#include "support/runner.h"

#include <algorithm>
#include <cstring>

namespace om {

uint32_t creationFlagOf(TDkCPSFlag flag) {
  switch (flag) {
    case cfDefaultErrorMode: return 0x4000000;  // CREATE_DEFAULT_ERROR_MODE
    case cfNewConsole: return 0x10;             // CREATE_NEW_CONSOLE
    case cfNewProcGroup: return 0x200;          // CREATE_NEW_PROCESS_GROUP
    case cfSeparateWdm: return 0x800;           // CREATE_SEPARATE_WOW_VDM
    case cfSharedWdm: return 0x1000;            // CREATE_SHARED_WOW_VDM
    case cfSuspended: return 0x4;               // CREATE_SUSPENDED
    case cfUnicode: return 0x400;               // CREATE_UNICODE_ENVIRONMENT
    case cfDetached: return 0x8;                // DETACHED_PROCESS
  }
  return 0;
}

uint32_t priorityClassOf(TDkProcessPriority priority) {
  switch (priority) {
    case ppIdle: return 0x40;
    case ppNormal: return 0x20;
    case ppHigh: return 0x80;
    case ppRealTime: return 0x100;
  }
  return 0x20;
}

uint16_t showWindowOf(TDkCPSShowWindow show) {
  switch (show) {
    case swHide: return 0;      // SW_HIDE
    case swMinimize: return 2;  // SW_SHOWMINIMIZED
    case swMaximize: return 3;  // SW_SHOWMAXIMIZED
    case swNormal: return 1;    // SW_SHOWNORMAL
  }
  return 1;
}

uint32_t creationFlagsOf(TDkProcessPriority priority, TDkCPSFlags flags) {
  uint32_t result = priorityClassOf(priority);
  for (int f = cfDefaultErrorMode; f <= cfDetached; ++f)
    if (flags & cpsFlag(static_cast<TDkCPSFlag>(f))) result |= creationFlagOf(static_cast<TDkCPSFlag>(f));
  return result;
}

TDkStartupRecord startupRecordOf(const TDkCPSStartupInfo& info) {
  TDkStartupRecord r;
  if (!info.Desktop.empty()) r.lpDesktop = info.Desktop.c_str();
  if (!info.Title.empty()) r.lpTitle = info.Title.c_str();
  if (!info.DefaultPosition) {
    r.dwX = static_cast<uint32_t>(info.Left);
    r.dwY = static_cast<uint32_t>(info.Top);
    r.dwFlags |= kStartfUsePosition;
  }
  if (!info.DefaultSize) {
    r.dwXSize = static_cast<uint32_t>(info.Width);
    r.dwYSize = static_cast<uint32_t>(info.Height);
    r.dwFlags |= kStartfUseSize;
  }
  if (!info.DefaultWindowState) {
    r.wShowWindow = showWindowOf(info.ShowWindow);
    r.dwFlags |= kStartfUseShowWindow;
  }
  if (info.ForceOnFeedback) r.dwFlags |= kStartfForceOnFeedback;
  if (info.ForceOffFeedback) r.dwFlags |= kStartfForceOffFeedback;
  return r;
}

void TDkReadBuffer::Append(const char* data, size_t size) {
  while (FData.size() < FUsed + size) {
    if (FData.size() <= kGrowLimit) {
      FData.resize(FData.size() * 2);
    } else {
      FUsed = 0;  // the main thread is behind: unread output is dropped
      if (FData.size() < size) FData.resize(size);
      break;
    }
  }
  std::memcpy(FData.data() + FUsed, data, size);
  FUsed += size;
}

bool TDkReadBuffer::Take(std::string& chunk) {
  if (FUsed == 0) return false;
  const size_t n = std::min(FUsed, kChunk);
  chunk.assign(FData.data(), n);
  std::memmove(FData.data(), FData.data() + n, FUsed - n);
  FUsed -= n;
  return true;
}

const std::vector<std::string>& TDkLineAssembler::Lines() const {
  syncLastEntry();
  return FLines;
}

void TDkLineAssembler::syncLastEntry() const {
  if (FLastEntryIsLine) FLines.back() = FLine;
  FLastEntryIsLine = false;
}

void TDkLineAssembler::Reset() {
  syncLastEntry();
  FStartsOnNewLine = true;
  FLine.clear();
  FCursor = 0;
  FUnreported = false;
}

void TDkLineAssembler::writeRun(const char* data, size_t size) {
  if (size == 0) return;
  const size_t at = static_cast<size_t>(FCursor);
  if (FLine.size() < at + size) FLine.resize(at + size, ' ');
  std::memcpy(&FLine[at], data, size);
  FCursor += static_cast<int>(size);
  FUnreported = true;
}

void TDkLineAssembler::emit(bool ended) {
  if (!OwnerData) {
    // A new entry for a new line; otherwise the last entry is replaced by the
    // line, which it now stands for.
    if (FStartsOnNewLine || FLines.empty()) {
      syncLastEntry();
      FLines.emplace_back();
    }
    FLastEntryIsLine = true;
  }
  if (OnRead) OnRead(FLine, FStartsOnNewLine);
  FUnreported = false;
  if (ended) {
    if (FLastEntryIsLine) {
      FLines.back() = std::move(FLine);
      FLastEntryIsLine = false;
    }
    FLine.clear();
    FCursor = 0;
  }
  FStartsOnNewLine = ended;
}

void TDkLineAssembler::Split(const std::string& chunk) {
  if (OnRawRead) OnRawRead(chunk);
  std::string run;
  auto flush = [&] {
    writeRun(run.data(), run.size());
    run.clear();
  };
  for (char c : chunk) {
    switch (static_cast<unsigned char>(c)) {
      case 0:
      case 7:
        run.push_back(' ');
        break;
      case 8:
        flush();
        if (FCursor > 0) --FCursor;
        break;
      case 9:
        flush();
        writeRun("        ", 8);
        break;
      case 10:
        flush();
        emit(true);
        break;
      case 13:
        flush();
        FCursor = 0;
        break;
      default:
        run.push_back(c);
    }
  }
  flush();
  emit(false);
}

void TDkLineAssembler::Finish() {
  if (!FLine.empty() && FUnreported) emit(false);
}

}  // namespace om
