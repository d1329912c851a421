// Where the service host finds itself and what it asks of the file system.
#pragma once
#include <string>

namespace ombackup {

// The program's folder with its trailing "\", or empty when the path cannot be read.
std::string programFolder();
// True when `path` is not empty and names an existing folder.
bool directoryExists(const std::string& path);

}  // namespace ombackup
