// The stand-in Service Control Manager (see include/winsvc.h).
//
// Layout of $OM_STANDIN_ROOT/services/<service name in lower case>/:
//   config      name=, display=, binpath=, type=, start=, error=, account= lines
//   status      "state controls win32 specific checkpoint waithint pid" of the last report
//   status.log  one line per report, in order
//   args        the service main's arguments of the current start, NUL-terminated
//   connected   the service process's pid once its dispatcher runs
//   control     a pending control request (the code in decimal)
//   deleted     present once DeleteService marked the service for deletion
//   output.log  the service process's standard output and error
//   exitcode    the service process's exit status once it has ended
//   handles/    one empty file "<pid>.<handle>" per open service handle
// Files that others read are written to a temporary name and renamed. Every
// look-up and change of the database (services/.lock) is made under one lock,
// so another process sees a service either not yet created or whole, either not
// yet started or start pending with its process, and no report is lost.
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "../win32.h"
#include "internal.h"

using namespace om::standin;

namespace {

constexpr int kPollMilliseconds = 5;
constexpr int kRequestTimeoutMilliseconds = 30000;
constexpr int kStopGraceMilliseconds = 500;

class ScObject : public KernelObject {
 public:
  bool manager = false;
  std::string name;    // as the caller spelled it
  std::string folder;  // service folder (services only)
  SERVICE_STATUS lastStatus{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
};

std::string servicesFolder() {
  std::string path = standinRoot() + "/services";
  mkdir(path.c_str(), 0777);
  return path;
}

// The database lock: a record lock on services/.lock between processes (the
// processes a start forks do not inherit it) and a mutex between the threads of
// this process. Never taken twice by one thread.
class DatabaseLock {
 public:
  DatabaseLock() : hold_(threads()) {
    fd_ = open((servicesFolder() + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    while (fd_ >= 0 && fcntl(fd_, F_SETLKW, &whole) != 0 && errno == EINTR) {
    }
  }
  ~DatabaseLock() {
    if (fd_ >= 0) close(fd_);  // releases the record lock
  }
  DatabaseLock(const DatabaseLock&) = delete;
  DatabaseLock& operator=(const DatabaseLock&) = delete;

 private:
  static std::mutex& threads() {
    static auto* lock = new std::mutex;
    return *lock;
  }
  std::lock_guard<std::mutex> hold_;
  int fd_ = -1;
};

bool validName(const char* name) {
  if (!name || !*name || std::strlen(name) > 256) return false;
  for (const char* p = name; *p; ++p)
    if (*p == '/' || *p == '\\') return false;
  return true;
}

std::string folderOf(const std::string& name) { return servicesFolder() + "/" + toLowerAscii(name); }

bool exists(const std::string& path) { return hostExists(path); }

std::string readFile(const std::string& path) {
  std::string content;
  readHostFile(path, content);
  return content;
}

void writeFileAtomically(const std::string& path, const std::string& content) {
  writeHostFileAtomically(path, content);
}

void appendLine(const std::string& path, const std::string& line) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return;
  std::string text = line + "\n";
  ssize_t ignored = write(fd, text.data(), text.size());
  (void)ignored;
  close(fd);
}

std::map<std::string, std::string> readConfig(const std::string& folder) {
  std::map<std::string, std::string> config;
  std::istringstream in(readFile(folder + "/config"));
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) config[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return config;
}

bool processAlive(long pid) {
  if (pid <= 0) return false;
  if (kill(pid, 0) != 0 && errno != EPERM) return false;
  std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  return close == std::string::npos || close + 2 >= stat.size() || (stat[close + 2] != 'Z' && stat[close + 2] != 'X');
}

struct StoredStatus {
  SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
  long pid = 0;
};

std::string formatStatus(const SERVICE_STATUS& s, long pid) {
  char text[160];
  std::snprintf(text, sizeof text, "%u %u %u %u %u %u %ld", s.dwCurrentState, s.dwControlsAccepted,
                s.dwWin32ExitCode, s.dwServiceSpecificExitCode, s.dwCheckPoint, s.dwWaitHint, pid);
  return text;
}

StoredStatus readStatus(const std::string& folder) {
  StoredStatus stored;
  std::istringstream in(readFile(folder + "/status"));
  SERVICE_STATUS& s = stored.status;
  if (!(in >> s.dwCurrentState >> s.dwControlsAccepted >> s.dwWin32ExitCode >> s.dwServiceSpecificExitCode >>
        s.dwCheckPoint >> s.dwWaitHint >> stored.pid))
    stored = StoredStatus();
  return stored;
}

void writeStatus(const std::string& folder, const SERVICE_STATUS& status, long pid) {
  writeFileAtomically(folder + "/status", formatStatus(status, pid) + "\n");
}

// The status as the manager sees it (under the lock): a process that ended
// without reporting stopped reads as stopped with ERROR_PROCESS_ABORTED.
StoredStatus effectiveStatus(const std::string& folder) {
  StoredStatus stored = readStatus(folder);
  if (stored.status.dwCurrentState != SERVICE_STOPPED && !processAlive(stored.pid)) {
    stored.status = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, ERROR_PROCESS_ABORTED, 0, 0, 0};
    appendLine(folder + "/status.log", "manager: " + formatStatus(stored.status, 0));
    writeStatus(folder, stored.status, 0);
  }
  return stored;
}

// ---- open handles (under the lock) -----------------------------------------------
std::string handleRecord(const std::string& folder, SC_HANDLE handle) {
  return folder + "/handles/" + std::to_string(getpid()) + "." +
         std::to_string(reinterpret_cast<uintptr_t>(handle));
}

void recordHandle(const std::string& folder, SC_HANDLE handle) {
  mkdir((folder + "/handles").c_str(), 0777);
  writeFileAtomically(handleRecord(folder, handle), "");
}

// Whether a live process holds a handle to the service; the records of processes
// that have ended are dropped.
bool handlesOpen(const std::string& folder) {
  std::string handles = folder + "/handles";
  std::vector<std::string> names;
  if (DIR* dir = opendir(handles.c_str())) {
    while (struct dirent* item = readdir(dir))
      if (item->d_name[0] != '.') names.push_back(item->d_name);
    closedir(dir);
  }
  bool open = false;
  for (const auto& name : names) {
    if (processAlive(std::strtol(name.c_str(), nullptr, 10)))
      open = true;
    else
      unlink((handles + "/" + name).c_str());
  }
  return open;
}

// A service marked for deletion disappears once it is stopped and its last
// handle is closed. Its folder is first renamed away, so a file a late writer
// puts there (the supervisor's exit code) cannot keep the name taken.
bool reapIfDeleted(const std::string& folder) {
  if (!exists(folder + "/deleted")) return false;
  if (effectiveStatus(folder).status.dwCurrentState != SERVICE_STOPPED) return false;
  if (handlesOpen(folder)) return false;
  std::string away = servicesFolder() + "/.reaped." + std::to_string(getpid()) + "." + std::to_string(gettid());
  removeHostTree(rename(folder.c_str(), away.c_str()) == 0 ? away : folder);
  return true;
}

std::shared_ptr<ScObject> lookupSc(SC_HANDLE handle, bool wantManager) {
  auto object = lookup<ScObject>(reinterpret_cast<HANDLE>(handle));
  if (!object || object->manager != wantManager) {
    setLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return object;
}

SC_HANDLE insertSc(std::shared_ptr<ScObject> object) { return reinterpret_cast<SC_HANDLE>(insertHandle(object)); }

// A handle to the service in `folder`, recorded there (under the lock).
SC_HANDLE insertService(const std::string& name, const std::string& folder) {
  auto object = std::make_shared<ScObject>();
  object->name = name;
  object->folder = folder;
  SC_HANDLE handle = insertSc(object);
  recordHandle(folder, handle);
  return handle;
}

// CreateProcess rules for a command line: a quoted or unquoted program path, then
// arguments separated by blanks, quotes grouping, backslashes before a quote escaping it.
std::vector<std::string> splitCommandLine(const std::string& line) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  std::string program;
  if (i < line.size() && line[i] == '"') {
    size_t end = line.find('"', i + 1);
    program = line.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
    i = end == std::string::npos ? line.size() : end + 1;
  } else {
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') program += line[i++];
  }
  parts.push_back(program);
  while (true) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      size_t slashes = 0;
      while (i < line.size() && line[i] == '\\') ++slashes, ++i;
      if (i < line.size() && line[i] == '"') {
        arg.append(slashes / 2, '\\');
        if (slashes % 2) {
          arg += '"';
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        arg.append(slashes, '\\');
        if (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) arg += line[i++];
      }
    }
    parts.push_back(arg);
  }
  return parts;
}

// Starts the service process detached from the caller (its own session, not a
// child the caller must reap). Returns its pid, or 0 with the last error set.
long spawnService(const std::string& folder, const std::string& serviceName, const std::vector<std::string>& command) {
  std::string program = hostPathFromWindows(command[0]);
  struct stat st;
  if (program.empty() || stat(program.c_str(), &st) != 0) {
    setLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  int channel[2];
  if (pipe2(channel, O_CLOEXEC) != 0) {
    failErrno(errno);
    return 0;
  }
  std::string output = folder + "/output.log";
  pid_t middle = fork();
  if (middle < 0) {
    close(channel[0]);
    close(channel[1]);
    failErrno(errno);
    return 0;
  }
  if (middle == 0) {
    // A session of its own, under a supervisor that records the exit status
    // (exitcode) and is not the caller's child.
    setsid();
    pid_t supervisor = fork();
    if (supervisor != 0) _exit(supervisor < 0 ? 1 : 0);
    pid_t service = fork();
    if (service != 0) {
      close(channel[1]);
      int null = open("/dev/null", O_RDWR);
      if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
      }
      if (service < 0) _exit(1);
      int status = 0;
      while (waitpid(service, &status, 0) < 0 && errno == EINTR) {
      }
      std::string code = WIFEXITED(status) ? std::to_string(WEXITSTATUS(status))
                                           : "signal " + std::to_string(WTERMSIG(status));
      writeFileAtomically(folder + "/exitcode", code + "\n");
      _exit(0);
    }
    long self = getpid();
    ssize_t ignored = write(channel[1], &self, sizeof self);
    int null = open("/dev/null", O_RDONLY);
    int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
    if (null >= 0) dup2(null, 0);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    if (chdir("/") != 0) {
    }
    setenv("OM_SERVICE_NAME", serviceName.c_str(), 1);
    std::vector<char*> argv;
    std::vector<std::string> args = command;
    args[0] = program;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    int error = errno;
    ignored = write(channel[1], &error, sizeof error);
    (void)ignored;
    _exit(127);
  }
  close(channel[1]);
  int status = 0;
  waitpid(middle, &status, 0);
  long pid = 0;
  int error = 0;
  bool gotPid = read(channel[0], &pid, sizeof pid) == static_cast<ssize_t>(sizeof pid);
  bool execFailed = read(channel[0], &error, sizeof error) == static_cast<ssize_t>(sizeof error);
  close(channel[0]);
  if (!gotPid || execFailed) {
    failErrno(execFailed ? error : ECHILD);
    return 0;
  }
  return pid;
}

// ---- the service process's side -------------------------------------------------
struct Dispatcher {
  std::string folder;
  std::string name;
  LPHANDLER_FUNCTION handler = nullptr;
  std::atomic<bool> running{false};
  std::atomic<bool> stopped{false};
  std::atomic<bool> mainReturned{false};
};

Dispatcher& dispatcher() {
  static auto* instance = new Dispatcher;
  return *instance;
}

struct ServiceThreadArgs {
  LPSERVICE_MAIN_FUNCTIONA main;
  std::vector<std::string> args;
};

void* serviceThread(void* parameter) {
  std::unique_ptr<ServiceThreadArgs> start(static_cast<ServiceThreadArgs*>(parameter));
  std::vector<char*> argv;
  for (auto& arg : start->args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  start->main(static_cast<DWORD>(start->args.size()), argv.data());
  dispatcher().mainReturned = true;
  return nullptr;
}

}  // namespace

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) {
  if (machine && *machine) {
    setLastError(1722);  // RPC_S_SERVER_UNAVAILABLE: no remote managers here
    return nullptr;
  }
  if (database && *database && std::strcmp(database, "ServicesActive") != 0) {
    setLastError(1065);  // ERROR_DATABASE_DOES_NOT_EXIST
    return nullptr;
  }
  auto object = std::make_shared<ScObject>();
  object->manager = true;
  servicesFolder();
  return insertSc(object);
}

namespace {

// The dependencies of a service ("a\0b\0\0") as "a/b" (names hold no slash).
std::string joinedDependencies(LPCSTR list) {
  std::string joined;
  for (const char* p = list; p && *p; p += std::strlen(p) + 1) joined += (joined.empty() ? "" : "/") + std::string(p);
  return joined;
}

}  // namespace

SC_HANDLE WINAPI CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName, DWORD access,
                                DWORD serviceType, DWORD startType, DWORD errorControl, LPCSTR binaryPathName,
                                LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies,
                                LPCSTR serviceStartName, LPCSTR password) {
  if (!lookupSc(manager, true)) return nullptr;
  if (!validName(serviceName)) {
    setLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  if (!binaryPathName || !*binaryPathName || startType > SERVICE_DISABLED) {
    setLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string folder = folderOf(serviceName);
  DatabaseLock lock;
  if (exists(folder + "/config")) {
    if (!reapIfDeleted(folder)) {
      setLastError(exists(folder + "/deleted") ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS);
      return nullptr;
    }
  } else if (exists(folder)) {
    removeHostTree(folder);  // what a service removed before left behind
  }
  if (mkdir(folder.c_str(), 0777) != 0) {
    setLastError(errno == EEXIST ? ERROR_SERVICE_EXISTS : win32ErrorFromErrno(errno));
    return nullptr;
  }
  std::ostringstream config;
  config << "name=" << serviceName << "\n"
         << "display=" << (displayName && *displayName ? displayName : serviceName) << "\n"
         << "binpath=" << binaryPathName << "\n"
         << "type=" << serviceType << "\n"
         << "start=" << startType << "\n"
         << "error=" << errorControl << "\n"
         << "account=" << (serviceStartName ? serviceStartName : "LocalSystem") << "\n"
         << "depends=" << joinedDependencies(dependencies) << "\n";
  writeFileAtomically(folder + "/config", config.str());
  writeStatus(folder, SERVICE_STATUS{serviceType, SERVICE_STOPPED, 0, ERROR_SERVICE_NEVER_STARTED, 0, 0, 0}, 0);
  return insertService(serviceName, folder);
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD access) {
  if (!lookupSc(manager, true)) return nullptr;
  if (!validName(serviceName)) {
    setLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  std::string folder = folderOf(serviceName);
  DatabaseLock lock;
  if (!exists(folder + "/config") || reapIfDeleted(folder)) {
    setLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  return insertService(serviceName, folder);
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
  auto object = lookup<ScObject>(reinterpret_cast<HANDLE>(handle));
  if (!object) return fail(ERROR_INVALID_HANDLE);
  if (!object->manager) {
    DatabaseLock lock;
    unlink(handleRecord(object->folder, handle).c_str());
    reapIfDeleted(object->folder);
  }
  removeHandle(reinterpret_cast<HANDLE>(handle));
  return TRUE;
}

BOOL WINAPI DeleteService(SC_HANDLE service) {
  auto object = lookupSc(service, false);
  if (!object) return FALSE;
  DatabaseLock lock;
  if (!exists(object->folder + "/config")) return fail(ERROR_SERVICE_DOES_NOT_EXIST);
  if (exists(object->folder + "/deleted")) return fail(ERROR_SERVICE_MARKED_FOR_DELETE);
  writeFileAtomically(object->folder + "/deleted", "");
  return TRUE;
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE service, LPSERVICE_STATUS status) {
  auto object = lookupSc(service, false);
  if (!object) return FALSE;
  if (!status) return fail(ERROR_INVALID_PARAMETER);
  DatabaseLock lock;
  if (exists(object->folder + "/config")) {
    object->lastStatus = effectiveStatus(object->folder).status;
  } else {
    object->lastStatus.dwCurrentState = SERVICE_STOPPED;  // deleted: the last state seen, stopped
    object->lastStatus.dwControlsAccepted = 0;
  }
  *status = object->lastStatus;
  return TRUE;
}

BOOL WINAPI QueryServiceConfigA(SC_HANDLE service, LPQUERY_SERVICE_CONFIGA config, DWORD size, LPDWORD needed) {
  auto object = lookupSc(service, false);
  if (!object) return FALSE;
  if (!needed) return fail(ERROR_INVALID_PARAMETER);
  auto values = readConfig(object->folder);
  if (values.empty()) return fail(ERROR_SERVICE_DOES_NOT_EXIST);
  std::string dependencies = values["depends"];  // "a/b" as "a\0b\0" (and the list's own terminator)
  for (auto& c : dependencies)
    if (c == '/') c = '\0';
  dependencies += '\0';
  const std::string texts[] = {values["binpath"], "", dependencies, values["account"], values["display"]};
  DWORD total = sizeof(QUERY_SERVICE_CONFIGA);
  for (const auto& text : texts) total += static_cast<DWORD>(text.size() + 1);
  *needed = total;
  if (!config || size < total) return fail(ERROR_INSUFFICIENT_BUFFER);
  char* next = reinterpret_cast<char*>(config + 1);
  LPSTR* targets[] = {&config->lpBinaryPathName, &config->lpLoadOrderGroup, &config->lpDependencies,
                      &config->lpServiceStartName, &config->lpDisplayName};
  for (int i = 0; i < 5; ++i) {
    std::memcpy(next, texts[i].data(), texts[i].size());
    next[texts[i].size()] = '\0';
    *targets[i] = next;
    next += texts[i].size() + 1;
  }
  config->dwServiceType = static_cast<DWORD>(std::stoul(values["type"]));
  config->dwStartType = static_cast<DWORD>(std::stoul(values["start"]));
  config->dwErrorControl = static_cast<DWORD>(std::stoul(values["error"]));
  config->dwTagId = 0;
  return TRUE;
}

BOOL WINAPI StartServiceA(SC_HANDLE service, DWORD argc, LPCSTR* argv) {
  auto object = lookupSc(service, false);
  if (!object) return FALSE;
  const std::string& folder = object->folder;
  long pid = 0;
  {
    // Checked, spawned and start pending in one step: a second start finds it
    // running, and the service's own reports come after this one.
    DatabaseLock lock;
    auto config = readConfig(folder);
    if (config.empty()) return fail(ERROR_SERVICE_DOES_NOT_EXIST);
    if (exists(folder + "/deleted")) return fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    if (config["start"] == std::to_string(SERVICE_DISABLED)) return fail(ERROR_SERVICE_DISABLED);
    if (effectiveStatus(folder).status.dwCurrentState != SERVICE_STOPPED) return fail(ERROR_SERVICE_ALREADY_RUNNING);

    std::string args = config["name"] + std::string("\0", 1);
    for (DWORD i = 0; i < argc; ++i) args += std::string(argv && argv[i] ? argv[i] : "") + std::string("\0", 1);
    writeFileAtomically(folder + "/args", args);
    unlink((folder + "/connected").c_str());
    unlink((folder + "/control").c_str());
    unlink((folder + "/exitcode").c_str());

    std::vector<std::string> command = splitCommandLine(config["binpath"]);
    pid = spawnService(folder, config["name"], command);
    if (!pid) return FALSE;
    SERVICE_STATUS pending{static_cast<DWORD>(std::stoul(config["type"])), SERVICE_START_PENDING, 0, 0, 0, 0, 2000};
    writeStatus(folder, pending, pid);
  }
  // Like the real manager, wait until the process has connected its dispatcher.
  for (int waited = 0; waited < kRequestTimeoutMilliseconds; waited += kPollMilliseconds) {
    if (exists(folder + "/connected")) return TRUE;
    if (!processAlive(pid)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMilliseconds));
  }
  if (exists(folder + "/connected")) return TRUE;
  if (!processAlive(pid)) {
    DatabaseLock lock;
    effectiveStatus(folder);
  }
  return fail(ERROR_SERVICE_REQUEST_TIMEOUT);
}

namespace {

// Why a service in state `s` does not take `control` now; ERROR_SUCCESS when it does.
DWORD controlRefusal(const SERVICE_STATUS& s, DWORD control) {
  if (s.dwCurrentState == SERVICE_STOPPED) return ERROR_SERVICE_NOT_ACTIVE;
  bool pending = s.dwCurrentState == SERVICE_START_PENDING || s.dwCurrentState == SERVICE_STOP_PENDING;
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    DWORD accept = control == SERVICE_CONTROL_STOP ? SERVICE_ACCEPT_STOP : SERVICE_ACCEPT_SHUTDOWN;
    if (pending || !(s.dwControlsAccepted & accept)) return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
  } else if (control == SERVICE_CONTROL_PAUSE || control == SERVICE_CONTROL_CONTINUE) {
    if (pending) return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    if (!(s.dwControlsAccepted & SERVICE_ACCEPT_PAUSE_CONTINUE)) return ERROR_INVALID_SERVICE_CONTROL;
  } else if (control != SERVICE_CONTROL_INTERROGATE && (control < 128 || control > 255)) {
    return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}

SERVICE_STATUS lockedEffectiveStatus(const std::string& folder) {
  DatabaseLock lock;
  return effectiveStatus(folder).status;
}

}  // namespace

BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status) {
  auto object = lookupSc(service, false);
  if (!object) return FALSE;
  const std::string& folder = object->folder;
  // The current state read and the request placed under the lock; the wait for
  // the service to take the request without it.
  StoredStatus current;
  {
    DatabaseLock lock;
    if (!exists(folder + "/config")) return fail(ERROR_SERVICE_DOES_NOT_EXIST);
    current = effectiveStatus(folder);
    if (DWORD refusal = controlRefusal(current.status, control)) return fail(refusal);
    if (!exists(folder + "/connected")) return fail(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    writeFileAtomically(folder + "/control", std::to_string(control) + "\n");
  }
  int waited = 0;
  while (exists(folder + "/control")) {
    if (!processAlive(current.pid) || waited >= kRequestTimeoutMilliseconds) {
      unlink((folder + "/control").c_str());
      if (status) *status = lockedEffectiveStatus(folder);
      return fail(ERROR_SERVICE_REQUEST_TIMEOUT);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMilliseconds));
    waited += kPollMilliseconds;
  }
  if (status) *status = lockedEffectiveStatus(folder);
  return TRUE;
}

BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table) {
  if (!table || !table[0].lpServiceName || !table[0].lpServiceProc) return fail(ERROR_INVALID_PARAMETER);
  const char* name = std::getenv("OM_SERVICE_NAME");
  Dispatcher& d = dispatcher();
  if (!name || !*name || d.running) return fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  std::string folder = folderOf(name);
  if (!exists(folder + "/config")) return fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  unsetenv("OM_SERVICE_NAME");
  d.folder = folder;
  d.name = name;
  d.running = true;

  auto* start = new ServiceThreadArgs{table[0].lpServiceProc, {}};
  std::string args = readFile(folder + "/args");
  for (size_t at = 0; at < args.size();) {
    size_t end = args.find('\0', at);
    if (end == std::string::npos) end = args.size();
    start->args.push_back(args.substr(at, end - at));
    at = end + 1;
  }
  if (start->args.empty()) start->args.push_back(name);
  writeFileAtomically(folder + "/connected", std::to_string(getpid()) + "\n");

  pthread_t thread;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attributes, 8 << 20);
  int rc = pthread_create(&thread, &attributes, serviceThread, start);
  pthread_attr_destroy(&attributes);
  if (rc != 0) {
    delete start;
    return failErrno(rc);
  }
  // Controls are delivered here, on the dispatcher's thread, one at a time.
  std::string request = folder + "/control";
  while (!d.stopped) {
    if (exists(request)) {
      std::string text = readFile(request);
      DWORD control = static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10));
      if (!text.empty() && d.handler) d.handler(control);
      unlink(request.c_str());
      continue;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMilliseconds));
  }
  unlink(request.c_str());
  // A service main that reports stopped as it finishes gets a moment to return
  // before the dispatcher does (and the process ends).
  for (int waited = 0; !d.mainReturned && waited < kStopGraceMilliseconds; waited += kPollMilliseconds)
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMilliseconds));
  return TRUE;
}

SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(LPCSTR serviceName, LPHANDLER_FUNCTION handler) {
  Dispatcher& d = dispatcher();
  if (!d.running) {
    setLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    return nullptr;
  }
  if (!serviceName || !handler) {
    setLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // The process runs one service of its own, so its name is not checked, as with
  // Windows' own-process services.
  d.handler = handler;
  return reinterpret_cast<SERVICE_STATUS_HANDLE>(&d);
}

BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
  Dispatcher& d = dispatcher();
  if (handle != reinterpret_cast<SERVICE_STATUS_HANDLE>(&d) || !d.running) return fail(ERROR_INVALID_HANDLE);
  if (!status || status->dwCurrentState < SERVICE_STOPPED || status->dwCurrentState > SERVICE_PAUSED)
    return fail(ERROR_INVALID_DATA);
  {
    DatabaseLock lock;
    // The log line first: whoever sees the new state also finds its report.
    appendLine(d.folder + "/status.log", "service: " + formatStatus(*status, getpid()));
    writeStatus(d.folder, *status, status->dwCurrentState == SERVICE_STOPPED ? 0 : getpid());
  }
  if (status->dwCurrentState == SERVICE_STOPPED) d.stopped = true;
  return TRUE;
}

BOOL WINAPI QueryServiceStatusEx(SC_HANDLE service, SC_STATUS_TYPE level, LPBYTE buffer, DWORD size,
                                 LPDWORD needed) {
  if (level != SC_STATUS_PROCESS_INFO || !needed) return fail(ERROR_INVALID_PARAMETER);
  *needed = sizeof(SERVICE_STATUS_PROCESS);
  SERVICE_STATUS status;
  if (!QueryServiceStatus(service, &status)) return FALSE;
  if (!buffer || size < sizeof(SERVICE_STATUS_PROCESS)) return fail(ERROR_INSUFFICIENT_BUFFER);
  SERVICE_STATUS_PROCESS out{};
  std::memcpy(&out, &status, sizeof status);
  std::memcpy(buffer, &out, sizeof out);
  return TRUE;
}

BOOL WINAPI EnumDependentServicesA(SC_HANDLE service, DWORD state, LPENUM_SERVICE_STATUSA services, DWORD size,
                                   LPDWORD needed, LPDWORD returned) {
  if (!needed || !returned || state < SERVICE_ACTIVE || state > SERVICE_STATE_ALL) return fail(ERROR_INVALID_PARAMETER);
  auto object = lookupSc(service, false);
  if (!object) return FALSE;
  const std::string& folder = object->folder;
  *needed = 0;
  *returned = 0;
  // Every service's name, display name and dependencies, from the database.
  struct Entry {
    std::string name, display;
    std::vector<std::string> depends;
    int depth = 0;
  };
  std::vector<Entry> all;
  std::string target;
  std::string database = folder.substr(0, folder.find_last_of('/'));
  if (DIR* dir = opendir(database.c_str())) {
    while (struct dirent* item = readdir(dir)) {
      if (item->d_name[0] == '.') continue;
      auto config = readConfig(database + "/" + item->d_name);
      Entry entry;
      entry.name = config["name"];
      entry.display = config["display"];
      std::istringstream list(config["depends"]);
      std::string name;
      while (std::getline(list, name, '/'))
        if (!name.empty()) entry.depends.push_back(name);
      if (entry.name.empty()) continue;
      if (database + "/" + item->d_name == folder) target = entry.name;
      all.push_back(entry);
    }
    closedir(dir);
  }
  // Dependents at any depth; the deepest first, the reverse of the order they start in.
  std::vector<Entry*> found;
  std::vector<std::pair<std::string, int>> pending{{target, 0}};
  while (!pending.empty()) {
    auto [name, depth] = pending.back();
    pending.pop_back();
    if (depth > 64) break;  // a dependency cycle
    for (auto& entry : all) {
      for (const auto& dependency : entry.depends) {
        if (!equalsIgnoreCase(dependency, name)) continue;
        if (std::find(found.begin(), found.end(), &entry) == found.end()) found.push_back(&entry);
        entry.depth = std::max(entry.depth, depth + 1);
        pending.push_back({entry.name, depth + 1});
      }
    }
  }
  std::stable_sort(found.begin(), found.end(), [](const Entry* a, const Entry* b) {
    return a->depth != b->depth ? a->depth > b->depth : toLowerAscii(a->name) < toLowerAscii(b->name);
  });
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!manager) return FALSE;
  std::vector<std::pair<Entry*, SERVICE_STATUS>> listed;
  for (Entry* entry : found) {
    SERVICE_STATUS status{};
    SC_HANDLE dependent = OpenServiceA(manager, entry->name.c_str(), SERVICE_QUERY_STATUS);
    if (!dependent) continue;
    bool ok = QueryServiceStatus(dependent, &status);
    CloseServiceHandle(dependent);
    if (!ok) continue;
    bool active = status.dwCurrentState != SERVICE_STOPPED;
    if ((active && (state & SERVICE_ACTIVE)) || (!active && (state & SERVICE_INACTIVE))) listed.push_back({entry, status});
  }
  CloseServiceHandle(manager);
  DWORD total = 0;
  for (const auto& item : listed)
    total += static_cast<DWORD>(sizeof(ENUM_SERVICE_STATUSA) + item.first->name.size() + item.first->display.size() + 2);
  *needed = total;
  if (total > size || (total && !services)) return fail(ERROR_MORE_DATA);
  char* text = reinterpret_cast<char*>(services + listed.size());
  for (size_t i = 0; i < listed.size(); ++i) {
    services[i].lpServiceName = text;
    std::memcpy(text, listed[i].first->name.c_str(), listed[i].first->name.size() + 1);
    text += listed[i].first->name.size() + 1;
    services[i].lpDisplayName = text;
    std::memcpy(text, listed[i].first->display.c_str(), listed[i].first->display.size() + 1);
    text += listed[i].first->display.size() + 1;
    services[i].ServiceStatus = listed[i].second;
  }
  *returned = static_cast<DWORD>(listed.size());
  setLastError(ERROR_SUCCESS);
  return TRUE;
}

// The wide forms take and give UTF-16 for the UTF-8 names of the ANSI forms.
SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD access) {
  return OpenSCManagerA(Narrow(machine).get(), Narrow(database).get(), access);
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD access) {
  return OpenServiceA(manager, Narrow(serviceName).get(), access);
}

BOOL WINAPI EnumDependentServicesW(SC_HANDLE service, DWORD state, LPENUM_SERVICE_STATUSW services, DWORD size,
                                   LPDWORD needed, LPDWORD returned) {
  if (!needed || !returned) return fail(ERROR_INVALID_PARAMETER);
  DWORD ansiNeeded = 0, count = 0;
  std::vector<BYTE> ansi;
  while (!EnumDependentServicesA(service, state, reinterpret_cast<LPENUM_SERVICE_STATUSA>(ansi.data()),
                                 static_cast<DWORD>(ansi.size()), &ansiNeeded, &count)) {
    if (GetLastError() != ERROR_MORE_DATA || ansiNeeded <= ansi.size()) return FALSE;
    ansi.resize(ansiNeeded);
  }
  // The entries first, then their names, as the ANSI form lays them out.
  auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUSA*>(ansi.data());
  std::vector<std::u16string> names;
  DWORD total = count * sizeof(ENUM_SERVICE_STATUSW);
  for (DWORD i = 0; i < count; ++i) {
    names.push_back(widen(entries[i].lpServiceName ? entries[i].lpServiceName : ""));
    names.push_back(widen(entries[i].lpDisplayName ? entries[i].lpDisplayName : ""));
    total += static_cast<DWORD>((names[2 * i].size() + names[2 * i + 1].size() + 2) * sizeof(WCHAR));
  }
  *needed = total;
  *returned = 0;
  if (size < total || (total && !services)) return fail(ERROR_MORE_DATA);
  auto* text = reinterpret_cast<WCHAR*>(reinterpret_cast<BYTE*>(services) + count * sizeof(ENUM_SERVICE_STATUSW));
  for (DWORD i = 0; i < count; ++i) {
    services[i].ServiceStatus = entries[i].ServiceStatus;
    for (int part = 0; part < 2; ++part) {
      const std::u16string& name = names[2 * i + part];
      (part ? services[i].lpDisplayName : services[i].lpServiceName) = text;
      std::memcpy(text, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
      text += name.size() + 1;
    }
  }
  *returned = count;
  setLastError(ERROR_SUCCESS);
  return TRUE;
}
