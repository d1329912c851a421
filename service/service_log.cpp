#include "service/service_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace ombackup {

namespace {

const char* const kLabels[] = {"Error: ", "Message: ", "Debug: ", "Trace: "};

#ifdef _WIN32
const char kLineEnd[] = "\r\n";  // the log is a text-mode file
#else
const char kLineEnd[] = "\n";
#endif

// The log as the service thread, the control handler and the JVM's threads
// share it. It is never destroyed: those threads may still write while the
// process exits.
class ServiceLog {
 public:
  static ServiceLog& get() {
    static ServiceLog& log = *new ServiceLog;
    return log;
  }

  bool wants(int level) const { return open_ && level <= level_; }
  int level() const { return level_; }
  void setLevel(int level) { level_ = level; }

  // The newest file becomes the log.
  bool open(const std::string& path) {
    om::UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::lock_guard<std::mutex> hold(lock_);
    file_ = std::move(file);
    open_ = true;
    return true;
  }

  // Unbuffered: the line is with the system once written.
  void append(const std::string& line) {
    std::lock_guard<std::mutex> hold(lock_);
    DWORD written = 0;
    SetFilePointer(file_.get(), 0, nullptr, FILE_END);
    WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }

 private:
  ServiceLog() = default;

  std::atomic<bool> open_{false};
  std::atomic<int> level_{LOG_MESSAGE};
  std::mutex lock_;
  om::UniqueFile file_;
};

}  // namespace

void openLog() {
  std::string program = om::moduleFileName();
  if (program.empty() || !ServiceLog::get().open(program + ".log")) return;
  writeLog("Backup service wrapper started", LOG_MESSAGE);
}

void writeLog(const char* text, int level) {
  ServiceLog& log = ServiceLog::get();
  if (!log.wants(level)) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%02u/%02u/%02u %02u:%02u:%02u ", now.wMonth, now.wDay, now.wYear % 100,
                now.wHour, now.wMinute, now.wSecond);
  std::string line = stamp;
  if (level >= LOG_ERROR && level <= LOG_TRACE) line += kLabels[level];
  line += text ? text : "";
  line += kLineEnd;
  log.append(line);
}

void writeLogf(int level, const char* format, ...) {
  if (!ServiceLog::get().wants(level)) return;
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  writeLog(text, level);
}

void logError(const char* text) { writeLog(text, LOG_ERROR); }
void logDebug(const char* text) { writeLog(text, LOG_DEBUG); }
int logLevel() { return ServiceLog::get().level(); }
void setLogLevel(int level) { ServiceLog::get().setLevel(level); }

bool registerEventSource(const char* sourceName, const char* messageFile) {
  if (!sourceName || !*sourceName) return false;
  std::string keyName = std::string("SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\") + sourceName;
  om::UniqueHkey key;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, key.put(), &disposition) != ERROR_SUCCESS)
    return false;
  std::string file;
  if (messageFile) {
    file = std::string(messageFile).substr(0, 518);
  } else {
    std::string program = om::moduleFileName();
    file = program.substr(0, program.rfind('\\')) + "\\Tolvenmsg.dll";
  }
  RegSetValueExA(key.get(), "EventMessageFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                 static_cast<DWORD>(file.size() + 1));
  DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE | EVENTLOG_AUDIT_SUCCESS |
                EVENTLOG_AUDIT_FAILURE;
  RegSetValueExA(key.get(), "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types), sizeof types);
  return true;
}

std::unique_ptr<BYTE[]> currentUserSid() {
  om::UniqueHandle token;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put())) {
    if (GetLastError() != ERROR_NO_TOKEN) return nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return nullptr;
  }
  DWORD needed = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed);
  if (!needed) return nullptr;
  std::string buffer(needed, '\0');
  if (!GetTokenInformation(token.get(), TokenUser, &buffer[0], needed, &needed)) return nullptr;
  PSID sid = reinterpret_cast<TOKEN_USER*>(&buffer[0])->User.Sid;
  DWORD length = GetLengthSid(sid);
  std::unique_ptr<BYTE[]> copy(new BYTE[length]);
  if (!CopySid(length, copy.get(), sid)) return nullptr;
  return copy;
}

bool EventLogSource::open(const char* name, const char* messageFile) {
  if (!name || !*name) return false;
  close();
  sourceName = std::string(name).substr(0, 518);
  if (registerEventSource(sourceName.c_str(), messageFile))
    handle.reset(RegisterEventSourceA(nullptr, sourceName.c_str()));
  return handle.valid();
}

BOOL EventLogSource::report(WORD type, const char* text) {
  if (!handle || !text) return 0;
  std::unique_ptr<BYTE[]> sid = currentUserSid();
  LPCSTR strings[1] = {text};
  return ReportEventA(handle.get(), type, 0, kEventId, sid.get(), 1, 0, strings, nullptr);
}

}  // namespace ombackup
