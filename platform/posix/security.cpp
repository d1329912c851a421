// Security identifiers, tokens, the event log and the console control handler
// of the stand-in (see include/securitybase.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "../win32.h"
#include "internal.h"

using namespace om::standin;

namespace {

class TokenObject : public KernelObject {
 public:
  std::vector<BYTE> userSid;
};

class EventSourceObject : public KernelObject {
 public:
  std::string source;
};

// S-1-22-1-<uid>: the Unix user, as SID mappings for Unix users spell it.
std::vector<BYTE> currentUserSid() {
  std::vector<BYTE> sid(8 + 2 * sizeof(DWORD));
  sid[0] = 1;
  sid[1] = 2;
  sid[7] = 22;
  DWORD sub[2] = {1, static_cast<DWORD>(getuid())};
  std::memcpy(sid.data() + 8, sub, sizeof sub);
  return sid;
}

bool sidValid(PSID sid) {
  auto* bytes = static_cast<const BYTE*>(sid);
  return bytes && bytes[0] == 1 && bytes[1] <= 15;
}

std::string sidString(PSID sid) {
  auto* bytes = static_cast<const BYTE*>(sid);
  ULONGLONG authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | bytes[i];
  std::string text = "S-1-" + std::to_string(authority);
  for (int i = 0; i < bytes[1]; ++i) {
    DWORD sub;
    std::memcpy(&sub, bytes + 8 + 4 * i, sizeof sub);
    text += "-" + std::to_string(sub);
  }
  return text;
}

std::string escapeField(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (*p == '\t') out += "\\t";
    else if (*p == '\n') out += "\\n";
    else if (*p == '\r') out += "\\r";
    else if (*p == '\\') out += "\\\\";
    else out += *p;
  }
  return out;
}

std::mutex& consoleLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
std::vector<PHANDLER_ROUTINE>& consoleHandlers() {
  static auto* handlers = new std::vector<PHANDLER_ROUTINE>;
  return *handlers;
}

}  // namespace

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  if (!token) return fail(ERROR_INVALID_PARAMETER);
  if (process != GetCurrentProcess()) return fail(ERROR_ACCESS_DENIED);
  auto object = std::make_shared<TokenObject>();
  object->userSid = currentUserSid();
  *token = insertHandle(object);
  return TRUE;
}

BOOL WINAPI OpenThreadToken(HANDLE thread, DWORD access, BOOL openAsSelf, PHANDLE token) {
  if (!token) return fail(ERROR_INVALID_PARAMETER);
  *token = nullptr;
  return fail(ERROR_NO_TOKEN);  // threads never impersonate here
}

BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD size,
                                PDWORD returned) {
  auto object = lookup<TokenObject>(token);
  if (!object) return fail(ERROR_INVALID_HANDLE);
  if (infoClass != TokenUser) return fail(ERROR_INVALID_PARAMETER);
  DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + object->userSid.size());
  if (returned) *returned = needed;
  if (!info || size < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
  auto* user = static_cast<TOKEN_USER*>(info);
  BYTE* sid = reinterpret_cast<BYTE*>(user + 1);
  std::memcpy(sid, object->userSid.data(), object->userSid.size());
  user->User.Sid = sid;
  user->User.Attributes = 0;
  return TRUE;
}

BOOL WINAPI IsValidSid(PSID sid) { return sidValid(sid) ? TRUE : FALSE; }

DWORD WINAPI GetLengthSid(PSID sid) {
  if (!sidValid(sid)) return 0;
  return 8 + 4 * static_cast<const BYTE*>(sid)[1];
}

BOOL WINAPI CopySid(DWORD size, PSID destination, PSID source) {
  if (!sidValid(source) || !destination) return fail(ERROR_INVALID_SID);
  DWORD length = GetLengthSid(source);
  if (size < length) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(destination, source, length);
  return TRUE;
}

BOOL WINAPI ConvertSidToStringSidA(PSID sid, LPSTR* text) {
  if (!sidValid(sid) || !text) return fail(ERROR_INVALID_SID);
  std::string value = sidString(sid);
  *text = static_cast<LPSTR>(LocalAlloc(LPTR, value.size() + 1));
  if (!*text) return fail(ERROR_NOT_ENOUGH_MEMORY);
  std::memcpy(*text, value.c_str(), value.size() + 1);
  return TRUE;
}

HANDLE WINAPI RegisterEventSourceA(LPCSTR server, LPCSTR sourceName) {
  if (server && *server) {
    setLastError(1722);  // RPC_S_SERVER_UNAVAILABLE
    return nullptr;
  }
  if (!sourceName || !*sourceName) {
    setLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto object = std::make_shared<EventSourceObject>();
  object->source = sourceName;
  return insertHandle(object);
}

BOOL WINAPI DeregisterEventSource(HANDLE eventLog) {
  if (!lookup<EventSourceObject>(eventLog)) return fail(ERROR_INVALID_HANDLE);
  removeHandle(eventLog);
  return TRUE;
}

BOOL WINAPI ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid, WORD numStrings,
                         DWORD dataSize, LPCSTR* strings, LPVOID rawData) {
  auto object = lookup<EventSourceObject>(eventLog);
  if (!object) return fail(ERROR_INVALID_HANDLE);
  if (numStrings && !strings) return fail(ERROR_INVALID_PARAMETER);
  if (userSid && !sidValid(userSid)) return fail(ERROR_INVALID_SID);
  char head[64];
  std::snprintf(head, sizeof head, "\t%u\t%u\t0x%08x\t", type, category, eventId);
  std::string line = escapeField(object->source.c_str()) + head + (userSid ? sidString(userSid) : "-");
  for (WORD i = 0; i < numStrings; ++i) line += "\t" + escapeField(strings[i] ? strings[i] : "");
  line += "\n";
  std::string folder = standinRoot() + "/eventlog";
  mkdir(folder.c_str(), 0777);
  int fd = open((folder + "/Application.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return failErrno(errno);
  bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  close(fd);
  if (!written) return fail(ERROR_DISK_FULL);
  setLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
  std::lock_guard<std::mutex> lock(consoleLock());
  auto& handlers = consoleHandlers();
  if (!handler) return TRUE;  // the Control-C ignore flag: nothing to keep here
  if (add) {
    handlers.push_back(handler);
    return TRUE;
  }
  for (auto it = handlers.end(); it != handlers.begin();) {
    if (*--it == handler) {
      handlers.erase(it);
      return TRUE;
    }
  }
  return fail(ERROR_INVALID_PARAMETER);
}
