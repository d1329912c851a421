#include "service/setup.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/win32_owners.h"
#include "service/properties.h"
#include "service/service_log.h"

namespace ombackup {

namespace {

const char kDefaultMainClass[] = "com.ombrel.agentservice.Start";
constexpr int kDefaultMemory = 512;

// What FindFirstFileA/FindNextFileA give for a pattern, in their order.
struct Listing {
  bool started = false;
  DWORD error = ERROR_SUCCESS;  // why it did not start, or how it ended other than ERROR_NO_MORE_FILES
  std::vector<WIN32_FIND_DATAA> entries;
};

Listing listMatches(const std::string& pattern) {
  Listing listing;
  WIN32_FIND_DATAA data;
  om::UniqueFind find(FindFirstFileA(pattern.c_str(), &data));
  if (!find) {
    listing.error = GetLastError();
    return listing;
  }
  listing.started = true;
  do listing.entries.push_back(data);
  while (FindNextFileA(find.get(), &data));
  DWORD code = GetLastError();
  if (code != ERROR_NO_MORE_FILES) listing.error = code;
  return listing;
}

bool isFolder(const WIN32_FIND_DATAA& entry) { return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

}  // namespace

int readMegabytes(const std::string& text) {
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

std::vector<std::string> listSubdirectories(const std::string& parent, const std::string& pattern) {
  if (parent.empty()) throw SetupError("Parent search directory cannot be empty");
  if (pattern.empty()) throw SetupError("Glob pattern cannot be empty");
  std::string search = parent;
  if (search.back() != '\\') search += '\\';
  Listing listing = listMatches(search + pattern);
  std::vector<std::string> names;
  if (!listing.started) {
    // Nothing matching is an empty list, not a failed search.
    if (listing.error == ERROR_FILE_NOT_FOUND) return names;
    throw SetupError("Could not search for sub-directories. The system reported error code " +
                     std::to_string(listing.error));
  }
  if (listing.error != ERROR_SUCCESS)
    throw SetupError("Error iterating sub-directories of " + parent + " using pattern " + pattern);
  for (const WIN32_FIND_DATAA& entry : listing.entries)
    if (isFolder(entry)) names.push_back(entry.cFileName);
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
  Listing listing = listMatches(pattern);
  if (!listing.started)
    throw SetupError("Could not search for jars in lib folder. The system reported error code " +
                     std::to_string(listing.error));
  if (listing.error != ERROR_SUCCESS)
    throw SetupError("Error scanning lib folder for jars using pattern: " + pattern +
                     ". The system reported error code: " + std::to_string(listing.error));
  std::string classPath;
  for (const WIN32_FIND_DATAA& entry : listing.entries)
    if (!isFolder(entry)) classPath += folder + "lib\\" + entry.cFileName + ";";
  return classPath;
}

}  // namespace

std::unique_ptr<JavaInvoker> setupInvoker() {
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
    return invoker;
  }
  writeLog("Setting classpath", LOG_TRACE);
  invoker->setClassPath(classPath.c_str());
  invoker->setLibraryPath(folder.c_str());
  const cpputil::Property* memory = properties.find("memory");
  int megabytes = memory ? readMegabytes(memory->value) : kDefaultMemory;
  if (megabytes > 64) invoker->setMaxHeapMegabytes(megabytes);
  const cpputil::Property* extra = properties.find("extra-params");
  invoker->setExtraParams(extra ? extra->value.c_str() : "");
  return invoker;
}

}  // namespace ombackup
