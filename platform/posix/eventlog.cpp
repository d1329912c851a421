// The event log: sources and reports, appended to the stand-in's Application log
// (see include/eventlog.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "../win32.h"
#include "files_internal.h"

using namespace om::standin;

namespace {

class EventSourceObject : public KernelObject {
 public:
  std::string source;
};

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

}  // namespace

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
  for (WORD i = 0; i < numStrings; ++i)
    if (!strings[i]) return fail(ERROR_INVALID_PARAMETER);
  if (userSid && !sidValid(userSid)) return fail(ERROR_INVALID_SID);
  char head[64];
  std::snprintf(head, sizeof head, "\t%u\t%u\t0x%08x\t", type, category, eventId);
  std::string line = escapeField(object->source.c_str()) + head + (userSid ? sidString(userSid) : "-");
  for (WORD i = 0; i < numStrings; ++i) line += "\t" + escapeField(strings[i]);
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
