// Identity of a file on disk, independent of the name used to reach it.
#pragma once

#include <cstdint>
#include <string>

namespace om {

struct TFileIdentity {
  uint64_t Volume = 0;  // device number, or volume serial number on Windows
  uint64_t Index = 0;   // inode number, or file index on Windows
  bool operator==(const TFileIdentity& o) const { return Volume == o.Volume && Index == o.Index; }
};

// Identity of the existing file fileName; false when it does not exist or
// cannot be queried.
bool GetFileIdentity(const std::string& fileName, TFileIdentity& identity);

// True when both names lead to one existing file (relative paths, "..",
// differently spelled names and hard links included).
bool IsSameFile(const std::string& a, const std::string& b);

}  // namespace om
