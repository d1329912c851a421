// Our dial-up stand-in: RasEnumEntriesA, RasEnumConnectionsA, RasDialA,
// RasGetConnectStatusA and RasHangUpA over a scripted phone book. The file named
// by OM_RASAPI_SCRIPT holds one item a line:
//   entry <name> <user> <password>   a phone-book entry that accepts these credentials
//   connection <name> <handle>       a connection that is already up
// Dialling an entry with its credentials connects (the first status query reports
// the port opening, later ones the connection); wrong credentials end as
// disconnected with error 691. As the system does, a dial hands out its connection
// handle before it can fail: one that fails at once (no such entry, 623) leaves a
// disconnected connection for the caller to hang up. Handles are handed out in
// turn; connections made here live for the process. The script is UTF-8; on
// Windows its texts are given in the ANSI code page, as the "A" calls take them.
#include <cstdint>
#include <cstdio>
#ifdef _WIN32
#include <windows.h>
#endif
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ras_layout.h"

#ifdef _WIN32
#define RAS_EXPORT extern "C" __declspec(dllexport)
#define RAS_API __stdcall
#else
#define RAS_EXPORT extern "C" __attribute__((visibility("default")))
#define RAS_API
#endif

namespace {

using namespace rasapi;

struct Entry {
  std::string name, user, password;
};
struct Connection {
  std::string name;
  uint32_t state = kConnected;
  uint32_t error = 0;
  int queries = 0;
};

std::mutex lock;
bool loaded = false;
std::vector<Entry> entries;
std::map<uint64_t, Connection> connections;
uint64_t nextHandle = 0x5000;

// A script text as the "A" calls exchange it: UTF-8 is the stand-in's ANSI code
// page on Linux; on Windows it is converted.
std::string ansi(const char* utf8) {
#ifdef _WIN32
  wchar_t wide[300];
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 300);
  char out[300];
  if (n <= 0 || WideCharToMultiByte(CP_ACP, 0, wide, -1, out, sizeof out, nullptr, nullptr) <= 0) return utf8;
  return out;
#else
  return utf8;
#endif
}

void load() {
  if (loaded) return;
  loaded = true;
  const char* path = std::getenv("OM_RASAPI_SCRIPT");
  FILE* file = path ? std::fopen(path, "r") : nullptr;
  if (!file) return;
  char line[1024];
  while (std::fgets(line, sizeof line, file)) {
    char kind[32], a[300], b[300], c[300];
    int n = std::sscanf(line, "%31s %299s %299s %299s", kind, a, b, c);
    if (n == 4 && std::strcmp(kind, "entry") == 0) {
      entries.push_back({ansi(a), ansi(b), ansi(c)});
    } else if (n == 3 && std::strcmp(kind, "connection") == 0) {
      Connection made;
      made.name = ansi(a);
      connections[std::strtoull(b, nullptr, 0)] = made;
    }
  }
  std::fclose(file);
}

void copyName(char* field, size_t size, const std::string& text) {
  std::strncpy(field, text.c_str(), size - 1);
  field[size - 1] = 0;
}

// The sizing step of the enumerations: reports the count and the bytes `n`
// entries need; false when the caller's buffer holds fewer.
template <class Entry>
bool listFits(size_t n, uint32_t* bytes, uint32_t* count) {
  uint32_t needed = static_cast<uint32_t>(n * sizeof(Entry));
  *count = static_cast<uint32_t>(n);
  bool fits = *bytes >= needed;
  *bytes = needed;
  return fits;
}

}  // namespace

RAS_EXPORT uint32_t RAS_API RasEnumEntriesA(const char* reserved, const char*, EntryNameA* list, uint32_t* bytes,
                                            uint32_t* count) {
  if (reserved || !bytes || !count) return kInvalidParameter;
  if (!list || list->dwSize != sizeof(EntryNameA)) return kInvalidSize;
  std::lock_guard<std::mutex> hold(lock);
  load();
  if (!listFits<EntryNameA>(entries.size(), bytes, count)) return kBufferTooSmall;
  for (size_t i = 0; i < entries.size(); ++i) {
    std::memset(&list[i], 0, sizeof list[i]);
    list[i].dwSize = sizeof(EntryNameA);
    copyName(list[i].szEntryName, sizeof list[i].szEntryName, entries[i].name);
  }
  return 0;
}

RAS_EXPORT uint32_t RAS_API RasEnumConnectionsA(ConnA* list, uint32_t* bytes, uint32_t* count) {
  if (!bytes || !count) return kInvalidParameter;
  if (!list || list->dwSize != sizeof(ConnA)) return kInvalidSize;
  std::lock_guard<std::mutex> hold(lock);
  load();
  std::vector<std::pair<uint64_t, std::string>> up;
  for (const auto& [handle, connection] : connections)
    if (connection.state == kConnected) up.emplace_back(handle, connection.name);
  if (!listFits<ConnA>(up.size(), bytes, count)) return kBufferTooSmall;
  for (size_t i = 0; i < up.size(); ++i) {
    std::memset(&list[i], 0, sizeof list[i]);
    list[i].dwSize = sizeof(ConnA);
    list[i].hrasconn = up[i].first;
    copyName(list[i].szEntryName, sizeof list[i].szEntryName, up[i].second);
    copyName(list[i].szDeviceType, sizeof list[i].szDeviceType, "modem");
  }
  return 0;
}

RAS_EXPORT uint32_t RAS_API RasDialA(void*, const char*, DialParamsA* params, uint32_t, void*, void** connection) {
  if (!params || !connection) return kInvalidParameter;
  if (params->dwSize != sizeof(DialParamsA)) return kInvalidSize;
  std::lock_guard<std::mutex> hold(lock);
  load();
  const Entry* entry = nullptr;
  for (const auto& candidate : entries)
    if (candidate.name == params->szEntryName) entry = &candidate;
  uint64_t handle = nextHandle++;
  *connection = reinterpret_cast<void*>(static_cast<uintptr_t>(handle));
  Connection& made = connections[handle];
  made.name = params->szEntryName;
  if (!entry) {
    made.state = kDisconnected;
    made.error = kNoEntry;
    return kNoEntry;
  }
  if (entry->user != params->szUserName || entry->password != params->szPassword) {
    made.state = kDisconnected;
    made.error = kAuthFailure;
  } else {
    made.state = kOpenPort;
  }
  return 0;
}

RAS_EXPORT uint32_t RAS_API RasGetConnectStatusA(void* handle, ConnStatusA* status) {
  if (!status) return kInvalidParameter;
  if (status->dwSize != sizeof(ConnStatusA)) return kInvalidSize;
  std::lock_guard<std::mutex> hold(lock);
  load();
  auto found = connections.find(reinterpret_cast<uintptr_t>(handle));
  if (found == connections.end()) return kInvalidHandle;
  Connection& connection = found->second;
  if (connection.state == kOpenPort && connection.queries++ > 0) connection.state = kConnected;
  status->rasconnstate = connection.state;
  status->dwError = connection.error;
  copyName(status->szDeviceType, sizeof status->szDeviceType, "modem");
  return 0;
}

RAS_EXPORT uint32_t RAS_API RasHangUpA(void* handle) {
  std::lock_guard<std::mutex> hold(lock);
  load();
  return connections.erase(reinterpret_cast<uintptr_t>(handle)) ? 0 : kInvalidHandle;
}
