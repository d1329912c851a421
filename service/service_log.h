// The service host's log file (beside the program, "<program file>.log") and its
// event-log source.
#pragma once
#include <memory>
#include <string>

#include "platform/win32_owners.h"

namespace ombackup {

enum LogLevel { LOG_ERROR = 0, LOG_MESSAGE = 1, LOG_DEBUG = 2, LOG_TRACE = 3 };

// Opens the log anew (appending) and writes "Backup service wrapper started".
void openLog();
// Safe from any thread: each line is written whole.
void writeLog(const char* text, int level);
void writeLogf(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void logError(const char* text);
void logDebug(const char* text);
int logLevel();
void setLogLevel(int level);

// Registers "SYSTEM\CurrentControlSet\Services\Eventlog\Application\<source>" with
// its message file (default: Tolvenmsg.dll beside the program) and types.
bool registerEventSource(const char* sourceName, const char* messageFile);

// A copy of the current user's SID (thread token, else process token); null
// when it cannot be read.
std::unique_ptr<BYTE[]> currentUserSid();

class EventLogSource {
 public:
  bool open(const char* sourceName, const char* messageFile);
  BOOL report(WORD type, const char* text);
  void close() { handle.reset(); }

 private:
  om::UniqueEventSource handle;
  std::string sourceName;  // at most 518 characters
};

constexpr DWORD kEventId = 0x20000001;

}  // namespace ombackup
