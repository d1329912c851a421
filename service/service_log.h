// The service host's log file (beside the program, "<program file>.log") and its
// event-log source.
#pragma once
#include <string>

#include "platform/win32.h"

namespace ombackup {

enum LogLevel { LOG_ERROR = 0, LOG_MESSAGE = 1, LOG_DEBUG = 2, LOG_TRACE = 3 };

// Opens the log anew (appending) and writes "Backup service wrapper started".
void openLog();
void writeLog(const char* text, int level);
void writeLogf(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void logError(const char* text);
void logDebug(const char* text);
int logLevel();
void setLogLevel(int level);

// Registers "SYSTEM\CurrentControlSet\Services\Eventlog\Application\<source>" with
// its message file (default: Tolvenmsg.dll beside the program) and types.
bool registerEventSource(const char* sourceName, const char* messageFile);

// A copy of the current user's SID (thread token, else process token), to be
// freed with delete[]; nullptr when it cannot be read.
BYTE* currentUserSid();

class EventLogSource {
 public:
  EventLogSource() = default;
  ~EventLogSource();
  EventLogSource(const EventLogSource&) = delete;
  EventLogSource& operator=(const EventLogSource&) = delete;

  bool open(const char* sourceName, const char* messageFile);
  BOOL report(WORD type, const char* text);
  void close();

 private:
  HANDLE handle = nullptr;
  char* sourceName = nullptr;  // 520 characters, allocated on first use
};

constexpr DWORD kEventId = 0x20000001;

}  // namespace ombackup
