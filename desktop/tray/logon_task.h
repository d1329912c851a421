// The logon scheduled task that starts the tray monitor with the highest
// available rights at user logon. The tray program creates or removes it when
// started with "AddScheduledTask" / "RemoveScheduledTask" (optionally
// "RunTask"): it writes "OmTaskXml.xml" (UTF-16 LE with BOM) from a fixed
// template into its folder, runs schtasks.exe on it and ends with schtasks'
// exit code.
//
// Command line of these starts: argument 1 the switch, argument 2 (optional)
// the user name, argument 3 (optional) the task name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace om {

constexpr const char* kTaskDefinitionFile = "OmTaskXml.xml";

// The task definition template with its placeholders "%InstallFolder%",
// "%AppName%", "%UserDomain%" and "%UserName%" (no byte-order mark).
std::u16string TaskTemplate();

// Replaces every occurrence of find in text; the search goes on after each
// inserted text, so a replacement holding find cannot loop.
std::u16string ReplaceAllW(const std::u16string& text, const std::u16string& find, const std::u16string& replacement);

// The file's text: U+FEFF and the template with the placeholders filled in
// (values escaped for XML where they hold "&", "<" or ">").
std::u16string BuildTaskDefinition(const std::u16string& installFolder, const std::u16string& appName,
                                   const std::u16string& userDomain, const std::u16string& userName);
// UTF-16 code units, low byte first.
std::string Utf16LeBytes(const std::u16string& text);

// Argument 3; when empty or "-RunTask" (letter case ignored), brandLongName.
std::string GetTaskName(const std::vector<std::string>& args, const std::string& brandLongName);

// Parameters of schtasks.exe.
std::string CreateTaskParameters(const std::string& xmlPath, const std::string& taskName);
std::string RunTaskParameters(const std::string& taskName);
std::string DeleteTaskParameters(const std::string& taskName);

// ---- Windows ----

// The steps return schtasks' exit code of the last run (0 when none ran); the
// caller makes it the process exit code. On Windows before 6.0 nothing happens.
uint32_t CreateScheduledTask(const std::vector<std::string>& args);
uint32_t RemoveScheduledTask(const std::vector<std::string>& args);
// schtasks.exe through ShellExecuteAndWait, in the program folder, hidden.
// Raises EOSError when the shell refuses to start it.
uint32_t RunSchTasks(const std::string& parameters);
// Environment expansion in wide characters (buffer of 2047 characters).
std::u16string ExpandEnvironmentW(const std::u16string& text);

}  // namespace om
