// Internals shared by the stand-in's file pieces (attributes, information by
// handle, security, backup streams, NT queries, the registry's key security).
#pragma once
#include <sys/stat.h>

#include <string>
#include <vector>

#include "../win32.h"
#include "internal.h"

#pragma GCC visibility push(default)
namespace om::standin {

// A self-relative security descriptor for a host file: owner S-1-22-1-<uid>,
// group S-1-22-2-<gid> and a discretionary list of allow entries for the owner,
// the group and Everyone from the mode bits; only the parts in `requested`.
std::vector<BYTE> securityDescriptorFor(const struct stat& st, SECURITY_INFORMATION requested);

// Alternate data streams of a host file are its "user." extended attributes,
// except the stand-in's own ("user.omstandin."): the hidden, system and archive
// attributes set by SetFileAttributesW, the mark of a folder that holds files
// with such attributes, and the security descriptor restored by BackupWrite.
constexpr char kKeptPrefix[] = "omstandin.";
constexpr char kKeptAttributesName[] = "omstandin.attributes";
constexpr char kKeptInFolderName[] = "omstandin.kept-in-folder";
constexpr char kKeptSecurityName[] = "omstandin.security";
constexpr DWORD kKeptAttributeMask = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
std::vector<std::string> alternateStreamNames(int fd);
bool readAlternateStream(int fd, const std::string& name, std::vector<BYTE>& data);

// The attributes derived from the host's file data with the kept hidden, system
// and archive bits in place of the derived ones.
DWORD withKeptAttributes(DWORD fromStat, const std::string& hostPath);
DWORD withKeptAttributes(DWORD fromStat, int fd);
// Whether SetFileAttributesW kept attributes for a file of this folder, so that
// a find has to look them up per entry.
bool folderHasKeptAttributes(const std::string& folder);

// Little-endian fields of stored records.
inline WORD wordAt(const BYTE* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
inline DWORD dwordAt(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
         (static_cast<DWORD>(p[3]) << 24);
}

// stat() of a Windows path; FALSE with the last error set when it is missing.
BOOL statWindowsPath(LPCWSTR path, struct stat& st, std::string& host);

// Whether `data` is a well-formed self-relative security descriptor: revision,
// offsets inside it, SIDs and ACLs (with their entries) well-formed.
bool validSelfRelativeDescriptor(const BYTE* data, size_t size);
// The parts of a valid self-relative descriptor that `requested` names, as a new
// self-relative descriptor.
std::vector<BYTE> descriptorParts(const std::vector<BYTE>& whole, SECURITY_INFORMATION requested);
// Extent of a self-relative descriptor given by address only, as its header says.
size_t descriptorExtent(const BYTE* data);
// A descriptor with the parts of `a` named by `fromA` and the others of `b`.
std::vector<BYTE> combineDescriptors(const std::vector<BYTE>& a, SECURITY_INFORMATION fromA,
                                     const std::vector<BYTE>& b);
// The descriptor BackupWrite restored for a file, when there is a valid one.
bool keptSecurity(int fd, std::vector<BYTE>& descriptor);
bool keptSecurity(const std::string& hostPath, std::vector<BYTE>& descriptor);
// Validates and keeps a restored descriptor (ERROR_INVALID_SECURITY_DESCR when malformed).
BOOL keepSecurity(int fd, const std::vector<BYTE>& descriptor);

// SIDs: well-formed (revision 1, at most 15 sub-authorities) and as "S-1-..." text.
bool sidValid(PSID sid);
std::string sidString(PSID sid);

// Windows path of a host path without the drive ("\dir\file"), as NT names files.
std::u16string ntRelativeName(const std::string& hostPath);

}  // namespace om::standin
#pragma GCC visibility pop
