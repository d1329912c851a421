#include "service/service_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace ombackup {

namespace {

HANDLE logFile = INVALID_HANDLE_VALUE;
int currentLevel = LOG_MESSAGE;

const char* const kLabels[] = {"Error: ", "Message: ", "Debug: ", "Trace: "};

#ifdef _WIN32
const char kLineEnd[] = "\r\n";  // the log is a text-mode file
#else
const char kLineEnd[] = "\n";
#endif

void append(const std::string& text) {
  DWORD written = 0;
  SetFilePointer(logFile, 0, nullptr, FILE_END);
  WriteFile(logFile, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

void openLog() {
  char path[MAX_PATH + 8] = {0};
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  std::strcat(path, ".log");
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  // The newest stream becomes the log; an older one stays open, as before.
  logFile = file;
  writeLog("Backup service wrapper started", LOG_MESSAGE);
}

void writeLog(const char* text, int level) {
  if (logFile == INVALID_HANDLE_VALUE || level > currentLevel) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%02u/%02u/%02u %02u:%02u:%02u ", now.wMonth, now.wDay, now.wYear % 100,
                now.wHour, now.wMinute, now.wSecond);
  std::string line = stamp;
  if (level >= LOG_ERROR && level <= LOG_TRACE) line += kLabels[level];
  line += text ? text : "";
  line += kLineEnd;
  append(line);  // unbuffered: the line is with the system once written
}

void writeLogf(int level, const char* format, ...) {
  if (logFile == INVALID_HANDLE_VALUE || level > currentLevel) return;
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  writeLog(text, level);
}

void logError(const char* text) { writeLog(text, LOG_ERROR); }
void logDebug(const char* text) { writeLog(text, LOG_DEBUG); }
int logLevel() { return currentLevel; }
void setLogLevel(int level) { currentLevel = level; }

bool registerEventSource(const char* sourceName, const char* messageFile) {
  if (!sourceName || !*sourceName) return false;
  std::string keyName = std::string("SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\") + sourceName;
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &key, &disposition) != ERROR_SUCCESS)
    return false;
  char file[520] = {0};
  if (messageFile) {
    std::strncpy(file, messageFile, 518);
  } else {
    char path[520] = {0};
    GetModuleFileNameA(nullptr, path, 518);
    char* slash = std::strrchr(path, '\\');
    if (slash) *slash = '\0';
    std::snprintf(file, sizeof file, "%s\\Tolvenmsg.dll", path);
  }
  RegSetValueExA(key, "EventMessageFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(file),
                 static_cast<DWORD>(std::strlen(file) + 1));
  DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE | EVENTLOG_AUDIT_SUCCESS |
                EVENTLOG_AUDIT_FAILURE;
  RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof types);
  RegCloseKey(key);
  return true;
}

BYTE* currentUserSid() {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
    if (GetLastError() != ERROR_NO_TOKEN) return nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
  }
  DWORD needed = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
  BYTE* copy = nullptr;
  if (needed) {
    std::string buffer(needed, '\0');
    if (GetTokenInformation(token, TokenUser, &buffer[0], needed, &needed)) {
      PSID sid = reinterpret_cast<TOKEN_USER*>(&buffer[0])->User.Sid;
      DWORD length = GetLengthSid(sid);
      copy = new BYTE[length];
      if (!CopySid(length, copy, sid)) {
        delete[] copy;
        copy = nullptr;
      }
    }
  }
  CloseHandle(token);
  return copy;
}

EventLogSource::~EventLogSource() {
  close();
  delete[] sourceName;
}

bool EventLogSource::open(const char* name, const char* messageFile) {
  if (!name || !*name) return false;
  close();
  if (!sourceName) sourceName = new char[520];
  std::strncpy(sourceName, name, 518);
  sourceName[518] = '\0';
  if (registerEventSource(sourceName, messageFile)) handle = RegisterEventSourceA(nullptr, sourceName);
  return handle != nullptr;
}

BOOL EventLogSource::report(WORD type, const char* text) {
  if (!handle || !text) return 0;
  BYTE* sid = currentUserSid();
  LPCSTR strings[1] = {text};
  BOOL result = ReportEventA(handle, type, 0, kEventId, sid, 1, 0, strings, nullptr);
  delete[] sid;
  return result;
}

void EventLogSource::close() {
  if (handle) DeregisterEventSource(handle);
  handle = nullptr;
}

}  // namespace ombackup
