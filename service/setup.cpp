#include "service/setup.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "service/properties.h"
#include "service/service_log.h"

namespace ombackup {

namespace {
const char kDefaultMainClass[] = "com.ombrel.agentservice.Start";
constexpr int kDefaultMemory = 512;
}  // namespace

std::string programFolder() {
  char path[512] = {0};
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return std::string();
  std::string folder(path, length);
  size_t slash = folder.rfind('\\');
  return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

bool directoryExists(const std::string& path) {
  if (path.empty()) return false;
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> listSubdirectories(const std::string& parent, const std::string& pattern) {
  if (parent.empty()) throw SetupError("Parent search directory cannot be empty");
  if (pattern.empty()) throw SetupError("Glob pattern cannot be empty");
  std::string search = parent;
  if (search.back() != '\\') search += '\\';
  search += pattern;
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(search.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    DWORD code = GetLastError();
    // Nothing matching is an empty list, not a failed search.
    if (code == ERROR_FILE_NOT_FOUND) return names;
    throw SetupError("Could not search for sub-directories. The system reported error code " + std::to_string(code));
  }
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) names.push_back(data.cFileName);
  } while (FindNextFileA(find, &data));
  DWORD code = GetLastError();
  FindClose(find);
  if (code != ERROR_NO_MORE_FILES)
    throw SetupError("Error iterating sub-directories of " + parent + " using pattern " + pattern);
  std::stable_sort(names.begin(), names.end());  // byte-wise, a prefix first
  return names;
}

std::string findJre(const std::string& baseFolder) {
  if (!directoryExists(baseFolder)) throw SetupError("Backup client installation directory not found: " + baseFolder);
  std::string container = baseFolder;
  if (container.back() != '\\') container += '\\';
  container += "omjre";
  if (!directoryExists(container)) throw SetupError("Java container directory not found: " + container);
  std::vector<std::string> names = listSubdirectories(container, "jre*");
  if (names.empty()) throw SetupError("Java container directory don't seem to have any JRE directories.");
  return container + "\\" + names.back();
}

namespace {

std::string jarClassPath(const std::string& folder) {
  std::string pattern = folder + "lib\\*.jar";
  std::printf("Adding application jars to classpath: %s\n", pattern.c_str());
  std::string classPath;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE)
    throw SetupError("Could not search for jars in lib folder. The system reported error code " +
                     std::to_string(GetLastError()));
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) classPath += folder + "lib\\" + data.cFileName + ";";
  } while (FindNextFileA(find, &data));
  DWORD code = GetLastError();
  FindClose(find);
  if (code != ERROR_NO_MORE_FILES)
    throw SetupError("Error scanning lib folder for jars using pattern: " + pattern +
                     ". The system reported error code: " + std::to_string(code));
  return classPath;
}

}  // namespace

JavaInvoker* setupInvoker() {
  writeLog("In setupInvoker", LOG_TRACE);
  std::string folder = programFolder();
  if (folder.empty()) {
    writeLog("Failed to get module file name", LOG_ERROR);
    return nullptr;
  }
  cpputil::Properties properties;
  if (properties.load((folder + "service.properties").c_str()) != 0) {
    writeLog("service.properties file not found, using defaults", LOG_ERROR);
    properties.add(cpputil::Property("working-dir", folder));
  }
  const cpputil::Property* workingDir = properties.find("working-dir");
  std::string working = workingDir ? workingDir->value : folder;
  if (!SetCurrentDirectoryA(working.c_str())) {
    writeLogf(LOG_ERROR, "Could not set working dir: %s", working.c_str());
    return nullptr;
  }
  std::string classPath;
  try {
    classPath = jarClassPath(folder);
  } catch (const SetupError& error) {
    writeLog(error.what(), LOG_ERROR);
    return nullptr;
  }
  const cpputil::Property* mainClass = properties.find("main-class");
  auto invoker = std::make_unique<JavaInvoker>(mainClass ? mainClass->value.c_str() : kDefaultMainClass);
  invoker->setErrorLog(logError);
  invoker->setMessageLog(logDebug);

  writeLog("Attempting to find JRE", LOG_TRACE);
  try {
    invoker->jreHome = findJre(working);
  } catch (const SetupError& error) {
    std::printf("Could not find a valid JVM to use: %s\n", error.what());
    writeLog(error.what(), LOG_ERROR);
    return invoker.release();
  }
  writeLog("Setting classpath", LOG_TRACE);
  invoker->setClassPath(classPath.c_str());
  invoker->setLibraryPath(folder.c_str());
  const cpputil::Property* memory = properties.find("memory");
  int megabytes = memory ? std::atoi(memory->value.c_str()) : kDefaultMemory;
  if (megabytes > 64) invoker->setMaxHeapMegabytes(megabytes);
  const cpputil::Property* extra = properties.find("extra-params");
  invoker->setExtraParams(extra ? extra->value.c_str() : "");
  return invoker.release();
}

}  // namespace ombackup
