// What the tray monitor's portable classes need from the system: the running
// program's path, file existence, ANSI and UTF-8 text, the user's language.
// Windows implements these with Win32 (tray_platform_win32.cpp); the POSIX
// build behind the native tests uses Latin-1 as its "ANSI" code page.
#pragma once

#include <cstdint>
#include <string>

namespace om {

#ifdef _WIN32
constexpr char kPathDelim = '\\';
#else
constexpr char kPathDelim = '/';
#endif

// Full path of the running program file.
std::string ProgramFileName();
// Folder of the running program file, without a trailing separator.
std::string ProgramFolder();
// Tests stand in another program path (empty: the real one again).
void SetProgramFileNameForTesting(const std::string& path);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// Text after the last path separator (or drive colon).
std::string ExtractFileName(const std::string& path);
// Text up to and including the last path separator.
std::string ExtractFilePath(const std::string& path);
// The same without the trailing separator.
std::string ExtractFileDir(const std::string& path);
// The last "." and what follows it, when it comes after the last separator.
std::string ExtractFileExt(const std::string& path);
std::string IncludeTrailingPathDelimiter(const std::string& path);

// Local ANSI code page <-> UTF-8. Characters the target cannot hold become "?".
std::string Utf8ToAnsi(const std::string& utf8);
std::string AnsiToUtf8(const std::string& ansi);

// The Windows user's default language identifier.
uint16_t UserDefaultLangID();
// Tests stand in another identifier (negative: the real one again).
void SetUserDefaultLangIDForTesting(int langId);

// ASCII lower case.
std::string LowerCaseAscii(std::string s);

}  // namespace om
