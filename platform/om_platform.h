// Project helpers that differ between Windows and the POSIX stand-in but are not
// Win32 calls themselves. Each is the identity (or the plain Win32 spelling) on
// Windows.
#pragma once
#include <string>

namespace om {

// Path list separator of the host (";" on Windows, ":" elsewhere).
#ifdef _WIN32
constexpr char kHostPathListSeparator = ';';
#else
constexpr char kHostPathListSeparator = ':';
#endif

// A Windows path as the host's file system spells it: unchanged on Windows; on
// the stand-in "C:\a\b" becomes "/a/b" (drive letters and \\?\ prefixes are mapped
// the way the stand-in's file calls map them). Used for what is handed to
// non-Win32 consumers such as the JVM (class path, library path).
// A ";"-separated list of Windows paths as the host spells a path list.
#ifdef _WIN32
inline std::string hostPath(const std::string& windowsPath) { return windowsPath; }
inline std::string hostPathList(const std::string& windowsPathList) { return windowsPathList; }
#else
__attribute__((visibility("default"))) std::string hostPath(const std::string& windowsPath);
__attribute__((visibility("default"))) std::string hostPathList(const std::string& windowsPathList);
#endif

}  // namespace om
