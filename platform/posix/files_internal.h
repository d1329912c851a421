// Internals shared by the stand-in's extended file pieces (information by handle,
// security, backup streams, NT queries).
#pragma once
#include <sys/stat.h>

#include <string>
#include <vector>

#include "include/fileapi_ext.h"
#include "internal.h"

#pragma GCC visibility push(default)
namespace om::standin {

// A self-relative security descriptor for a host file: owner S-1-22-1-<uid>,
// group S-1-22-2-<gid> and a discretionary list of allow entries for the owner,
// the group and Everyone from the mode bits; only the parts in `requested`.
std::vector<BYTE> securityDescriptorFor(const struct stat& st, SECURITY_INFORMATION requested);

// Alternate data streams of a host file are its "user." extended attributes.
std::vector<std::string> alternateStreamNames(int fd);
bool readAlternateStream(int fd, const std::string& name, std::vector<BYTE>& data);

// Windows path of a host path without the drive ("\dir\file"), as NT names files.
std::u16string ntRelativeName(const std::string& hostPath);

}  // namespace om::standin
#pragma GCC visibility pop
