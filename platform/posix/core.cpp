// Handles, last error, waits, events, threads (with their priority and
// background mode), critical sections and time.
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <unordered_map>
#include <vector>

#include "../win32.h"
#include "internal.h"

namespace om::standin {

namespace {

struct HandleTable {
  std::mutex mutex;
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
  uintptr_t next = 0x100;
};

HandleTable& table() {
  static auto* t = new HandleTable;  // never destroyed: handles may be closed during exit
  return *t;
}

thread_local DWORD lastError = 0;

}  // namespace

HANDLE insertHandle(std::shared_ptr<KernelObject> object) {
  auto& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  uintptr_t value;
  do {
    value = t.next;
    t.next += 4;
    if (t.next >= 0x7FFFFFF0) t.next = 0x100;
  } while (t.objects.count(value));
  t.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> lookupHandle(HANDLE handle) {
  auto& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == t.objects.end() ? nullptr : it->second;
}

bool removeHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> doomed;  // destroyed outside the table lock
  auto& t = table();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  if (it == t.objects.end()) return false;
  doomed = std::move(it->second);
  t.objects.erase(it);
  return true;
}

namespace {
std::condition_variable& waitCondition() {
  static auto* c = new std::condition_variable;
  return *c;
}
}  // namespace

std::mutex& waitLock() {
  static auto* m = new std::mutex;
  return *m;
}

void notifyWaiters() { waitCondition().notify_all(); }

void setLastError(DWORD code) { lastError = code; }

DWORD win32ErrorFromErrno(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EBUSY: return ERROR_SHARING_VIOLATION;
    case ENOSYS:
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case EFAULT: return ERROR_NOACCESS;
    case ENXIO:
    case ENODEV: return ERROR_NOT_READY;
    case EXDEV: return 17;  // ERROR_NOT_SAME_DEVICE
    default: return ERROR_INVALID_FUNCTION;
  }
}

ULONGLONG fileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
  constexpr int64_t kEpochDifference = 11644473600LL;  // 1601-01-01 to 1970-01-01, seconds
  return static_cast<ULONGLONG>((seconds + kEpochDifference) * 10000000LL + nanoseconds / 100);
}

FILETIME toFileTime(ULONGLONG value) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(value);
  time.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return time;
}

namespace {

class Event : public KernelObject {
 public:
  Event(bool manualReset, bool initial) : manualReset_(manualReset), state_(initial) {}
  bool waitable() const override { return true; }
  bool signalled(bool consume) override {
    if (!state_) return false;
    if (consume && !manualReset_) state_ = false;
    return true;
  }
  void set(bool state) { state_ = state; }

 private:
  bool manualReset_;
  bool state_;
};

class Thread : public KernelObject {
 public:
  bool waitable() const override { return true; }
  bool signalled(bool) override { return finished; }

  LPTHREAD_START_ROUTINE start = nullptr;
  LPVOID parameter = nullptr;
  DWORD id = 0;
  DWORD exitCode = STILL_ACTIVE;
  bool finished = false;
  bool suspended = false;
  std::mutex resumeMutex;
  std::condition_variable resumed;
};

// The thread's own reference keeps the object alive after its handle is closed.
void* threadMain(void* arg) {
  std::shared_ptr<Thread> self(*static_cast<std::shared_ptr<Thread>*>(arg));
  delete static_cast<std::shared_ptr<Thread>*>(arg);
  {
    std::unique_lock<std::mutex> lock(self->resumeMutex);
    self->id = static_cast<DWORD>(syscall(SYS_gettid));
    self->resumed.notify_all();
    self->resumed.wait(lock, [&] { return !self->suspended; });
  }
  DWORD code = self->start(self->parameter);
  std::lock_guard<std::mutex> lock(waitLock());
  self->exitCode = code;
  self->finished = true;
  notifyWaiters();
  return nullptr;
}

}  // namespace
}  // namespace om::standin

using namespace om::standin;

DWORD WINAPI GetLastError(void) { return lastError; }
void WINAPI SetLastError(DWORD code) { lastError = code; }

BOOL WINAPI CloseHandle(HANDLE handle) {
  if (handle == GetCurrentProcess() || handle == GetCurrentThread()) return TRUE;
  return removeHandle(handle) ? TRUE : fail(ERROR_INVALID_HANDLE);
}

DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
    fail(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<KernelObject>> objects;
  for (DWORD i = 0; i < count; ++i) {
    auto object = lookupHandle(handles[i]);
    if (!object || !object->waitable()) {
      fail(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    objects.push_back(std::move(object));
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock<std::mutex> lock(waitLock());
  for (;;) {
    if (waitAll) {
      bool all = true;
      for (auto& object : objects) all = all && object->signalled(false);
      if (all) {
        for (auto& object : objects) object->signalled(true);
        return WAIT_OBJECT_0;
      }
    } else {
      for (DWORD i = 0; i < count; ++i)
        if (objects[i]->signalled(true)) return WAIT_OBJECT_0 + i;
    }
    if (milliseconds == INFINITE) {
      waitCondition().wait(lock);
    } else {
      if (std::chrono::steady_clock::now() >= deadline) return WAIT_TIMEOUT;
      waitCondition().wait_until(lock, deadline);
    }
  }
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR name) {
  if (name && *name) {  // named events are shared between processes on Windows; not needed here
    fail(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  setLastError(ERROR_SUCCESS);
  return insertHandle(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
}

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  return CreateEventA(attributes, manualReset, initialState, Narrow(name).get());
}

static BOOL setEventState(HANDLE handle, bool state) {
  auto event = lookup<Event>(handle);
  if (!event) return fail(ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lock(waitLock());
  event->set(state);
  if (state) notifyWaiters();
  return TRUE;
}

BOOL WINAPI SetEvent(HANDLE event) { return setEventState(event, true); }
BOOL WINAPI ResetEvent(HANDLE event) { return setEventState(event, false); }

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                           DWORD creationFlags, LPDWORD threadId) {
  if (!start) {
    fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto thread = std::make_shared<Thread>();
  thread->start = start;
  thread->parameter = parameter;
  thread->suspended = (creationFlags & CREATE_SUSPENDED) != 0;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  if (stackSize) pthread_attr_setstacksize(&attributes, stackSize < 65536 ? 65536 : stackSize);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t native;
  auto* arg = new std::shared_ptr<Thread>(thread);
  int rc = pthread_create(&native, &attributes, threadMain, arg);
  pthread_attr_destroy(&attributes);
  if (rc != 0) {
    delete arg;
    failErrno(rc);
    return nullptr;
  }
  {
    std::unique_lock<std::mutex> lock(thread->resumeMutex);
    thread->resumed.wait(lock, [&] { return thread->id != 0; });
  }
  if (threadId) *threadId = thread->id;
  return insertHandle(thread);
}

DWORD WINAPI ResumeThread(HANDLE handle) {
  auto thread = lookup<Thread>(handle);
  if (!thread) {
    fail(ERROR_INVALID_HANDLE);
    return static_cast<DWORD>(-1);
  }
  std::lock_guard<std::mutex> lock(thread->resumeMutex);
  DWORD previous = thread->suspended ? 1 : 0;
  thread->suspended = false;
  thread->resumed.notify_all();
  return previous;
}

BOOL WINAPI GetExitCodeThread(HANDLE handle, LPDWORD exitCode) {
  auto thread = lookup<Thread>(handle);
  if (!thread || !exitCode) return fail(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
  std::lock_guard<std::mutex> lock(waitLock());
  *exitCode = thread->exitCode;
  return TRUE;
}

namespace {
thread_local bool backgroundMode = false;
}  // namespace

BOOL WINAPI SetThreadPriority(HANDLE thread, int priority) {
  if (priority == THREAD_MODE_BACKGROUND_BEGIN || priority == THREAD_MODE_BACKGROUND_END) {
    if (thread != GetCurrentThread()) return fail(ERROR_INVALID_HANDLE);
    bool begin = priority == THREAD_MODE_BACKGROUND_BEGIN;
    if (begin == backgroundMode)
      return fail(begin ? ERROR_THREAD_MODE_ALREADY_BACKGROUND : ERROR_THREAD_MODE_NOT_BACKGROUND);
    backgroundMode = begin;
    return TRUE;
  }
  if (priority < -15 || priority > 15) return fail(ERROR_INVALID_PARAMETER);
  return TRUE;
}

DWORD WINAPI GetCurrentThreadId(void) { return static_cast<DWORD>(syscall(SYS_gettid)); }
DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }
HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }
HANDLE WINAPI GetCurrentThread(void) { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2)); }

void WINAPI Sleep(DWORD milliseconds) {
  if (milliseconds == INFINITE) {
    for (;;) pause();
  }
  struct timespec ts = {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) == -1 && errno == EINTR) {
  }
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION section) { section->impl = new std::recursive_mutex; }
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION section) {
  static_cast<std::recursive_mutex*>(section->impl)->lock();
}
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION section) {
  static_cast<std::recursive_mutex*>(section->impl)->unlock();
}
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION section) {
  delete static_cast<std::recursive_mutex*>(section->impl);
  section->impl = nullptr;
}

// ---- time ------------------------------------------------------------------

static uint64_t monotonicMilliseconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
}

// The tick count runs at a rate tests may set (OmStandinClockRate): ticks at the
// last change of rate, plus the real time since then times the rate.
namespace {
struct TickClock {
  std::mutex lock;
  uint64_t realAtChange = 0, ticksAtChange = 0;
  DWORD rate = 1;
};
TickClock& tickClock() {
  static auto* clock = new TickClock;
  return *clock;
}
uint64_t ticksNow(TickClock& clock, uint64_t real) {
  return clock.ticksAtChange + (real - clock.realAtChange) * clock.rate;
}
}  // namespace

ULONGLONG WINAPI GetTickCount64(void) {
  TickClock& clock = tickClock();
  std::lock_guard<std::mutex> lock(clock.lock);
  return ticksNow(clock, monotonicMilliseconds());
}
DWORD WINAPI GetTickCount(void) { return static_cast<DWORD>(GetTickCount64()); }

void WINAPI OmStandinClockRate(DWORD rate) {
  TickClock& clock = tickClock();
  std::lock_guard<std::mutex> lock(clock.lock);
  uint64_t real = monotonicMilliseconds();
  clock.ticksAtChange = ticksNow(clock, real);
  clock.realAtChange = real;
  clock.rate = rate ? rate : 1;
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  count->QuadPart = static_cast<LONGLONG>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
  return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  frequency->QuadPart = 1000000000LL;
  return TRUE;
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME time) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  *time = toFileTime(fileTimeFromUnix(ts.tv_sec, ts.tv_nsec));
}

static void fillSystemTime(const struct tm& parts, long nanoseconds, LPSYSTEMTIME out) {
  out->wYear = static_cast<WORD>(parts.tm_year + 1900);
  out->wMonth = static_cast<WORD>(parts.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
  out->wDay = static_cast<WORD>(parts.tm_mday);
  out->wHour = static_cast<WORD>(parts.tm_hour);
  out->wMinute = static_cast<WORD>(parts.tm_min);
  out->wSecond = static_cast<WORD>(parts.tm_sec);
  out->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

// The current time broken down by gmtime_r (UTC) or localtime_r (the local zone).
static void currentTime(struct tm* (*breakDown)(const time_t*, struct tm*), LPSYSTEMTIME time) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm parts;
  breakDown(&ts.tv_sec, &parts);
  fillSystemTime(parts, ts.tv_nsec, time);
}

void WINAPI GetSystemTime(LPSYSTEMTIME time) { currentTime(gmtime_r, time); }

void WINAPI GetLocalTime(LPSYSTEMTIME time) { currentTime(localtime_r, time); }

BOOL WINAPI FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime) {
  ULONGLONG value = (static_cast<ULONGLONG>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
  if (value >= 0x8000000000000000ULL) return fail(ERROR_INVALID_PARAMETER);
  int64_t seconds = static_cast<int64_t>(value / 10000000ULL) - 11644473600LL;
  long nanoseconds = static_cast<long>(value % 10000000ULL) * 100;
  time_t t = static_cast<time_t>(seconds);
  struct tm parts;
  if (!gmtime_r(&t, &parts)) return fail(ERROR_INVALID_PARAMETER);
  fillSystemTime(parts, nanoseconds, systemTime);
  return TRUE;
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME fileTime) {
  if (st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 || st->wDay > 31 || st->wHour > 23 || st->wMinute > 59 ||
      st->wSecond > 59 || st->wMilliseconds > 999 || st->wYear < 1601 || st->wYear > 30827)
    return fail(ERROR_INVALID_PARAMETER);
  struct tm parts = {};
  parts.tm_year = st->wYear - 1900;
  parts.tm_mon = st->wMonth - 1;
  parts.tm_mday = st->wDay;
  parts.tm_hour = st->wHour;
  parts.tm_min = st->wMinute;
  parts.tm_sec = st->wSecond;
  time_t seconds = timegm(&parts);
  *fileTime = toFileTime(fileTimeFromUnix(seconds, static_cast<int64_t>(st->wMilliseconds) * 1000000));
  return TRUE;
}
