// Hand-over file between the loader (omloader) and a running tray monitor.
//
// When the tray monitor of an installation already runs, the loader writes its
// command-line tail into a file in the per-user temporary folder instead of
// starting a second tray; the tray reads and deletes the file on its next
// one-second tick. Folder: %TEMP% (a numbered last component dropped), then
// "omparams". File name: MD5 of the tray program's full path in upper-case
// hexadecimal, no extension. Content: the tail exactly as on the command line
// (ANSI bytes, no terminating zero, no line end).
//
// Portable: no windows.h. Paths here are Windows paths ('\\' separators).
#pragma once

#include <cstdint>
#include <string>

namespace om {

// The MD5 digest of the bytes of programPath as 32 upper-case hexadecimal digits.
std::string ParamsFileName(const std::string& programPath);

// Reduces an expanded %TEMP% to the base of a numbered per-session sub-folder:
// when its last path component is a whole number it is dropped together with
// the separator before it ("...\Temp\2" -> "...\Temp").
std::string ReduceTempFolder(const std::string& expandedTemp);

// The hand-over folder for an expanded %TEMP%, with a trailing separator.
// Loader and tray monitor use the same rule, so both name the same folder.
std::string HandOverFolder(const std::string& expandedTemp);

// Full path of the hand-over file for the tray program programPath.
std::string HandOverFilePath(const std::string& expandedTemp, const std::string& programPath);

// Writer: deletes path if it exists, creates it anew and writes the bytes of
// text. Raises EFCreateError / EWriteError on failure.
void WriteParamsFile(const std::string& path, const std::string& text);

// Reader: when path exists, loads it as lines of text, deletes it and returns
// true with text = the lines, each followed by CR LF. False when there is no
// file. Raises when the file exists but cannot be read or deleted.
bool TakeParamsFile(const std::string& path, std::string& text);

// How long a loader waits while the tray takes no file (since the loader's
// start or the tray's last take) before it gives up and removes its own, in
// milliseconds.
constexpr unsigned kHandOverWaitMs = 10000;

// The text asks the tray monitor to end: one of its arguments is "-close"
// (exact case). The loader tests its command tail the same way.
bool HandOverRequestsClose(const std::string& text);

// The words ask the tray to open nothing ("silent" anywhere, letter case
// ignored): neither the tray nor the loader shows a window for them.
bool HandOverIsSilent(const std::string& text);

// When the file at path was last written, in 100 ns units since 1601-01-01
// (UTC); 0 when it cannot be told.
int64_t FileWriteTime(const std::string& path);

// Command-line scanning, as the run-time library splits arguments.
// Where the next argument starts at or after p: past characters with codes
// 1..32 and pairs of double quotes.
size_t SkipToArgument(const std::string& commandLine, size_t p);
// Where the argument starting at p ends: characters above 32, a double quote
// opening a section (blanks included) that the next double quote closes. Its
// text without the quotes is appended to arg when given. isLeadByte, when
// given, marks the lead bytes of double-byte characters, which are stepped
// over as whole characters.
size_t ReadArgument(const std::string& commandLine, size_t p, std::string* arg,
                    bool (*isLeadByte)(unsigned char) = nullptr);
// Position in commandLine right after the program name (its first argument).
size_t SkipProgramName(const std::string& commandLine, bool (*isLeadByte)(unsigned char) = nullptr);

}  // namespace om

namespace om {

struct TTrayHost;

// The hand-over step of the tray monitor's tick: when the file at path exists,
// waits 100 ms (lets the writer finish), takes its text and deletes it; a text
// with "-close" quits the program, any other goes to HandleCommandWords and,
// when that asks for it, to LaunchJavaGui as extra text without the program's
// own arguments. A file written longer than a loader waits before notBefore
// (the running program's start, in FileWriteTime's units; 0: no such test) was
// meant for an instance that is gone: it is deleted and not acted on. Returns
// true when a file was taken.
// Errors propagate to the tick, which shows them in the status label.
bool ProcessHandOverFile(TTrayHost& host, const std::string& path, int64_t notBefore = 0);

}  // namespace om
