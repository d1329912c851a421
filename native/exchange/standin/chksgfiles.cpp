// A test stand-in for Microsoft's CHKSGFILES.dll, the Exchange storage-group
// checker, which exists neither on Linux nor in Wine. Its objects have the
// layout Microsoft's x64 compiler gives CCheckSGFiles: a pointer to a table of
// the scalar deleting destructor followed by the six virtual operations, each
// taking the object as its first argument. The Windows build exports the
// static operations and the destructor under their decorated C++ names
// (chksgfiles.def); the Linux build exports them as plain C functions.
//
// Driven through files in the folder $OM_CHKSGFILES_DIR (else $OM_STANDIN_ROOT):
//   chksgfiles.control  read on every call, lines "Operation=code out-values...":
//                         CMaxDbPerSG=n, ErrInit=code, ErrCheckDbHeaders=code a b c,
//                         ErrCheckDbPages=code flags v0 v1 v2 v3 v4, ErrCheckLogs=code word,
//                         ErrTerm=code, PgnoFromFileOffset=page, RefuseAllocation=bytes
//   chksgfiles.log      one tab-separated line per call, texts as UTF-8, objects
//                         as the signed decimal of their address
//   chksgfiles.state    "live=n" (objects alive) and "copies=n" (text copies of
//                         the Linux test build alive)
#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/unicode.h"

#if defined(_WIN32)
#define STANDIN_EXPORT
#else
#define STANDIN_EXPORT __attribute__((visibility("default")))
#endif

namespace {

using Char = char16_t;
constexpr std::uint32_t kMagic = 0x43534746;  // "FGSC"

struct Block {
  std::uint32_t input;
  std::uint32_t flags;
  std::uint64_t values[5];
};

struct Object;
struct Operations {
  void* (*scalarDeletingDestructor)(Object*, unsigned int);
  std::int32_t (*errInit)(Object*, const Char* const*, std::uint32_t, const Char*, const Char*, std::uint32_t);
  std::int32_t (*errCheckDbHeaders)(Object*, std::uint32_t*, std::uint32_t*, std::uint32_t*, std::int32_t);
  std::int32_t (*errCheckDbPages)(Object*, void*, std::int64_t, std::int32_t, Block*, std::uint32_t, std::int32_t);
  std::int32_t (*errCheckLogs)(Object*, std::uint32_t*, std::int32_t);
  std::int32_t (*errTerm)(Object*, std::int32_t);
  std::int64_t (*pgnoFromFileOffset)(Object*, std::int64_t);
};

struct Object {
  const Operations* operations;
  std::uint32_t magic;
};

std::mutex lock;
long live = 0;
long copies = 0;

std::string folder() {
  const char* dir = std::getenv("OM_CHKSGFILES_DIR");
  if (!dir || !*dir) dir = std::getenv("OM_STANDIN_ROOT");
  return dir && *dir ? std::string(dir) + "/" : std::string();
}

using Script = std::map<std::string, std::vector<std::int64_t>>;

Script readControl() {
  Script script;
  std::string dir = folder();
  if (dir.empty()) return script;
  FILE* file = std::fopen((dir + "chksgfiles.control").c_str(), "r");
  if (!file) return script;
  char line[1024];
  while (std::fgets(line, sizeof line, file)) {
    char* equals = std::strchr(line, '=');
    if (!equals) continue;
    std::string key(line, equals);
    std::vector<std::int64_t> values;
    char* at = equals + 1;
    for (;;) {
      while (*at == ' ' || *at == '\t') ++at;
      if (!*at || *at == '\n' || *at == '\r') break;
      char* end = nullptr;
      std::int64_t value = *at == '-' ? static_cast<std::int64_t>(std::strtoll(at, &end, 0))
                                      : static_cast<std::int64_t>(std::strtoull(at, &end, 0));
      if (end == at) break;
      values.push_back(value);
      at = end;
    }
    script[key] = values;
  }
  std::fclose(file);
  return script;
}

// Value i of the operation's script line, or the fallback.
std::int64_t scripted(const Script& script, const char* key, std::size_t i, std::int64_t fallback = 0) {
  auto found = script.find(key);
  return found != script.end() && i < found->second.size() ? found->second[i] : fallback;
}

void writeState() {
  std::string dir = folder();
  if (dir.empty()) return;
  if (FILE* file = std::fopen((dir + "chksgfiles.state").c_str(), "wb")) {
    std::fprintf(file, "live=%ld\ncopies=%ld\n", live, copies);
    std::fclose(file);
  }
}

void record(const char* format, ...) {
  std::string dir = folder();
  if (dir.empty()) return;
  FILE* file = std::fopen((dir + "chksgfiles.log").c_str(), "ab");
  if (!file) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(file, format, args);
  va_end(args);
  std::fputc('\n', file);
  std::fclose(file);
}

long long id(const void* object) { return static_cast<long long>(reinterpret_cast<std::intptr_t>(object)); }

std::string utf8(const Char* text) {
  if (!text) return "(null)";
  std::string out;
  for (std::size_t i = 0; text[i]; ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    om::appendUtf8(out, c);
  }
  return out;
}

// Calls on something that is not a live checker are recorded, not followed.
bool valid(const Object* self) {
  if (self && self->magic == kMagic) return true;
  record("bad-object\t%lld", id(self));
  return false;
}

void destroy(Object* self) {
  std::lock_guard<std::mutex> hold(lock);
  if (!valid(self)) return;
  record("~CCheckSGFiles\t%lld", id(self));
  self->magic = 0;
  --live;
  writeState();
}

void* scalarDeletingDestructor(Object* self, unsigned int flags) {
  destroy(self);
  if (flags & 1) std::free(self);
  return self;
}

std::int32_t errInit(Object* self, const Char* const* databases, std::uint32_t count, const Char* second,
                     const Char* third, std::uint32_t flags) {
  std::lock_guard<std::mutex> hold(lock);
  if (!valid(self)) return -1;
  std::string names;
  for (std::uint32_t i = 0; databases && i < count && i < 64; ++i) names += (i ? "|" : "") + utf8(databases[i]);
  record("ErrInit\t%lld\t%" PRIu32 "\t%s\t%s\t%s\t%" PRIu32, id(self), count, names.c_str(), utf8(second).c_str(),
         utf8(third).c_str(), flags);
  return static_cast<std::int32_t>(scripted(readControl(), "ErrInit", 0));
}

std::int32_t errCheckDbHeaders(Object* self, std::uint32_t* first, std::uint32_t* second, std::uint32_t* third,
                               std::int32_t value) {
  std::lock_guard<std::mutex> hold(lock);
  if (!valid(self)) return -1;
  record("ErrCheckDbHeaders\t%lld\t%" PRId32, id(self), value);
  Script script = readControl();
  *first = static_cast<std::uint32_t>(scripted(script, "ErrCheckDbHeaders", 1));
  *second = static_cast<std::uint32_t>(scripted(script, "ErrCheckDbHeaders", 2));
  *third = static_cast<std::uint32_t>(scripted(script, "ErrCheckDbHeaders", 3));
  return static_cast<std::int32_t>(scripted(script, "ErrCheckDbHeaders", 0));
}

std::int32_t errCheckDbPages(Object* self, void* reserved, std::int64_t first, std::int32_t second, Block* block,
                             std::uint32_t count, std::int32_t last) {
  std::lock_guard<std::mutex> hold(lock);
  if (!valid(self)) return -1;
  record("ErrCheckDbPages\t%lld\t%lld\t%" PRId64 "\t%" PRId32 "\t%" PRIu32 "\t%" PRIu32 "\t%" PRIu32 "\t%" PRId32,
         id(self), id(reserved), first, second, block->input, block->flags, count, last);
  Script script = readControl();
  block->flags = static_cast<std::uint32_t>(scripted(script, "ErrCheckDbPages", 1));
  for (int i = 0; i < 5; ++i)
    block->values[i] = static_cast<std::uint64_t>(scripted(script, "ErrCheckDbPages", 2 + i));
  return static_cast<std::int32_t>(scripted(script, "ErrCheckDbPages", 0));
}

std::int32_t errCheckLogs(Object* self, std::uint32_t* word, std::int32_t value) {
  std::lock_guard<std::mutex> hold(lock);
  if (!valid(self)) return -1;
  record("ErrCheckLogs\t%lld\t%" PRId32, id(self), value);
  Script script = readControl();
  *word = static_cast<std::uint32_t>(scripted(script, "ErrCheckLogs", 1));
  return static_cast<std::int32_t>(scripted(script, "ErrCheckLogs", 0));
}

std::int32_t errTerm(Object* self, std::int32_t value) {
  std::lock_guard<std::mutex> hold(lock);
  if (!valid(self)) return -1;
  record("ErrTerm\t%lld\t%" PRId32, id(self), value);
  return static_cast<std::int32_t>(scripted(readControl(), "ErrTerm", 0));
}

std::int64_t pgnoFromFileOffset(Object* self, std::int64_t offset) {
  std::lock_guard<std::mutex> hold(lock);
  if (!valid(self)) return -1;
  record("PgnoFromFileOffset\t%lld\t%" PRId64, id(self), offset);
  return scripted(readControl(), "PgnoFromFileOffset", 0, offset / 8192);
}

const Operations kOperations = {&scalarDeletingDestructor, &errInit, &errCheckDbHeaders, &errCheckDbPages,
                                &errCheckLogs, &errTerm, &pgnoFromFileOffset};

}  // namespace

extern "C" {

STANDIN_EXPORT Object* CheckSGFiles_New() {
  auto* object = static_cast<Object*>(std::malloc(sizeof(Object)));
  if (!object) return nullptr;
  object->operations = &kOperations;
  object->magic = kMagic;
  std::lock_guard<std::mutex> hold(lock);
  ++live;
  record("New\t%lld", id(object));
  writeState();
  return object;
}

STANDIN_EXPORT void CheckSGFiles_Delete(Object* object) {
  {
    std::lock_guard<std::mutex> hold(lock);
    record("Delete\t%lld", id(object));
  }
  // As `delete object` on a class with a virtual destructor.
  if (object) object->operations->scalarDeletingDestructor(object, 1);
}

STANDIN_EXPORT std::uint32_t CheckSGFiles_CMaxDbPerSG() {
  std::lock_guard<std::mutex> hold(lock);
  record("CMaxDbPerSG");
  return static_cast<std::uint32_t>(scripted(readControl(), "CMaxDbPerSG", 0, 5));
}

STANDIN_EXPORT void CheckSGFiles_Destructor(Object* object) { destroy(object); }

// Text allocations of the Linux test build of the bridge: refused when the
// control file names their size, counted while alive.
STANDIN_EXPORT bool CheckSGFilesTest_Allocating(std::size_t bytes) {
  std::lock_guard<std::mutex> hold(lock);
  if (scripted(readControl(), "RefuseAllocation", 0, -1) == static_cast<std::int64_t>(bytes)) {
    record("refused-allocation\t%zu", bytes);
    return false;
  }
  ++copies;
  writeState();
  return true;
}

STANDIN_EXPORT void CheckSGFilesTest_Freed() {
  std::lock_guard<std::mutex> hold(lock);
  --copies;
  writeState();
}

}  // extern "C"
