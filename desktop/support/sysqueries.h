// Queries over the operating system: the program file of another process,
// special folders, the computer and user names and the user's domain. Each
// returns an empty string (or 0) on failure and raises nothing.
#pragma once

#include <string>

#include "framework/processstatus.h"
#include "platform/win32.h"

namespace om {

std::string GetSpecialFolder(int folderId);
std::string GetProfileFolder();
std::string GetLocalComputerName();
std::string GetLocalUserName();
std::string GetAccountDomain(const std::string& accountName);
std::string GetCurrentUserDomain();

void InitializeSysInfoUnit();
void FinalizeSysInfoUnit();

}  // namespace om
