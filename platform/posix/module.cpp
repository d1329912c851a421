// Modules: LoadLibrary and GetProcAddress over dlopen, plus pseudo modules that
// the stand-in implements itself (ntdll and the like).
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <vector>

#include "../win32.h"
#include "internal.h"

namespace om::standin {

namespace {

struct PseudoModule {
  std::string name;
  FARPROC (*resolve)(const char*);
};

std::mutex& modulesMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::map<std::string, PseudoModule*>& pseudoModules() {
  static auto* modules = new std::map<std::string, PseudoModule*>;
  return *modules;
}

PseudoModule* findPseudo(HMODULE module) {
  std::lock_guard<std::mutex> lock(modulesMutex());
  for (auto& entry : pseudoModules())
    if (reinterpret_cast<HMODULE>(entry.second) == module) return entry.second;
  return nullptr;
}

std::string baseName(const std::string& name) {
  size_t slash = name.find_last_of("\\/");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

bool hasFolder(const std::string& name) { return name.find_first_of("\\/:") != std::string::npos; }

std::string withoutDll(const std::string& name) {
  if (name.size() > 4 && equalsIgnoreCase(name.substr(name.size() - 4), ".dll")) return name.substr(0, name.size() - 4);
  return name;
}

std::string programFolder() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<size_t>(n));
  return path.substr(0, path.find_last_of('/'));
}

std::string hostModulePath(HMODULE module) {
  if (!module) {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
  }
  if (PseudoModule* pseudo = findPseudo(module)) return "/windows/system32/" + pseudo->name;
  struct link_map* map = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name || !*map->l_name)
    return hostModulePath(nullptr);
  char resolved[4096];
  return realpath(map->l_name, resolved) ? std::string(resolved) : std::string(map->l_name);
}

}  // namespace

void registerPseudoModule(const std::string& name, FARPROC (*resolve)(const char*)) {
  std::lock_guard<std::mutex> lock(modulesMutex());
  auto& slot = pseudoModules()[toLowerAscii(withoutDll(name))];
  if (!slot) slot = new PseudoModule;
  slot->name = toLowerAscii(withoutDll(name)) + ".dll";
  slot->resolve = resolve;
}

}  // namespace om::standin

using namespace om::standin;

HMODULE WINAPI LoadLibraryA(LPCSTR name) {
  if (!name || !*name) {
    fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string text = name;
  if (!hasFolder(text)) {
    std::lock_guard<std::mutex> lock(modulesMutex());
    auto it = pseudoModules().find(toLowerAscii(withoutDll(text)));
    if (it != pseudoModules().end()) return reinterpret_cast<HMODULE>(it->second);
  }
  std::vector<std::string> candidates;
  if (hasFolder(text)) {
    std::string host = hostPathFromWindows(text);
    candidates.push_back(host);
    std::string folder = host.substr(0, host.find_last_of('/') + 1);
    candidates.push_back(folder + "lib" + withoutDll(baseName(host)) + ".so");
  } else {
    std::string so = "lib" + withoutDll(text) + ".so";
    candidates.push_back(programFolder() + "/" + so);
    candidates.push_back(so);  // the loader's search path, then this library's own folder
    candidates.push_back(text);
  }
  bool found = false;
  for (const auto& candidate : candidates) {
    bool onDisk = candidate.find('/') == std::string::npos || hostExists(candidate);
    if (!onDisk) continue;
    if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) {
      setLastError(ERROR_SUCCESS);
      return reinterpret_cast<HMODULE>(handle);
    }
    found = found || candidate.find('/') != std::string::npos;
  }
  fail(found ? ERROR_BAD_EXE_FORMAT : ERROR_MOD_NOT_FOUND);
  return nullptr;
}

HMODULE WINAPI LoadLibraryW(LPCWSTR name) {
  if (!name) {
    fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return LoadLibraryA(narrow(name).c_str());
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  if (!module || !name) {
    fail(module ? ERROR_PROC_NOT_FOUND : ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (PseudoModule* pseudo = findPseudo(module)) {
    FARPROC proc = pseudo->resolve(name);
    if (!proc) fail(ERROR_PROC_NOT_FOUND);
    return proc;
  }
  dlerror();
  void* symbol = dlsym(module, name);
  if (!symbol) {
    fail(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  if (!module) return fail(ERROR_INVALID_HANDLE);
  if (findPseudo(module)) return TRUE;
  return dlclose(module) == 0 ? TRUE : fail(ERROR_INVALID_HANDLE);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  if (!name) return reinterpret_cast<HMODULE>(dlopen(nullptr, RTLD_NOW));
  std::string text = name;
  {
    std::lock_guard<std::mutex> lock(modulesMutex());
    auto it = pseudoModules().find(toLowerAscii(withoutDll(baseName(text))));
    if (it != pseudoModules().end()) return reinterpret_cast<HMODULE>(it->second);
  }
  std::string so = "lib" + withoutDll(baseName(hasFolder(text) ? hostPathFromWindows(text) : text)) + ".so";
  if (void* handle = dlopen(so.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
    dlclose(handle);  // GetModuleHandle does not add a reference
    return reinterpret_cast<HMODULE>(handle);
  }
  fail(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR name) { return GetModuleHandleA(Narrow(name).get()); }

// Truncates like Windows Vista and later: the result is terminated, the count is
// the buffer size and the last error ERROR_INSUFFICIENT_BUFFER.
template <class Char>
static DWORD moduleFileName(const std::basic_string<Char>& path, Char* buffer, DWORD size) {
  if (size == 0) {
    fail(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() < size) {
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = 0;
    setLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
  }
  std::copy(path.begin(), path.begin() + (size - 1), buffer);
  buffer[size - 1] = 0;
  fail(ERROR_INSUFFICIENT_BUFFER);
  return size;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  return moduleFileName(windowsPathFromHost(hostModulePath(module)), buffer, size);
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
  return moduleFileName(widen(windowsPathFromHost(hostModulePath(module))), buffer, size);
}

BOOL WINAPI DisableThreadLibraryCalls(HMODULE) { return TRUE; }  // no thread notifications here
