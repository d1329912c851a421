// Security identifiers, tokens and security descriptors: the descriptor of a
// host file from its owner and mode bits, well-formedness checks, the parts of a
// descriptor a caller asked for, and the descriptors BackupWrite keeps with a file.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "../win32.h"
#include "files_internal.h"

namespace om::standin {

namespace {

void appendSid(std::vector<BYTE>& out, BYTE authority, std::initializer_list<DWORD> subAuthorities) {
  out.push_back(1);  // revision
  out.push_back(static_cast<BYTE>(subAuthorities.size()));
  for (int i = 0; i < 5; ++i) out.push_back(0);
  out.push_back(authority);
  for (DWORD sub : subAuthorities)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(sub >> (8 * i)));
}

void putWord(std::vector<BYTE>& out, size_t at, WORD value) {
  out[at] = static_cast<BYTE>(value);
  out[at + 1] = static_cast<BYTE>(value >> 8);
}
void putDword(std::vector<BYTE>& out, size_t at, DWORD value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<BYTE>(value >> (8 * i));
}

DWORD maskFromBits(mode_t bits, bool owner) {
  constexpr DWORD kRead = 0x120089, kWrite = 0x120116, kExecute = 0x1200A0;
  DWORD mask = 0;
  if (bits & 4) mask |= kRead;
  if (bits & 2) mask |= kWrite;
  if (bits & 1) mask |= kExecute;
  if (owner) mask |= READ_CONTROL | WRITE_DAC | WRITE_OWNER | DELETE;
  return mask;
}

void appendAce(std::vector<BYTE>& out, DWORD mask, BYTE authority, std::initializer_list<DWORD> sub) {
  size_t start = out.size();
  out.resize(start + 8);
  out[start] = ACCESS_ALLOWED_ACE_TYPE;
  out[start + 1] = 0;
  putDword(out, start + 4, mask);
  appendSid(out, authority, sub);
  putWord(out, start + 2, static_cast<WORD>(out.size() - start));
}

constexpr SECURITY_INFORMATION kAllParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION;

}  // namespace

std::vector<BYTE> securityDescriptorFor(const struct stat& st, SECURITY_INFORMATION requested) {
  std::vector<BYTE> out(sizeof(SECURITY_DESCRIPTOR_RELATIVE), 0);
  out[0] = SECURITY_DESCRIPTOR_REVISION;
  WORD control = SE_SELF_RELATIVE;
  if (requested & OWNER_SECURITY_INFORMATION) {
    putDword(out, 4, static_cast<DWORD>(out.size()));
    appendSid(out, 22, {1, static_cast<DWORD>(st.st_uid)});
  }
  if (requested & GROUP_SECURITY_INFORMATION) {
    putDword(out, 8, static_cast<DWORD>(out.size()));
    appendSid(out, 22, {2, static_cast<DWORD>(st.st_gid)});
  }
  if (requested & DACL_SECURITY_INFORMATION) {
    control |= SE_DACL_PRESENT;
    size_t acl = out.size();
    putDword(out, 16, static_cast<DWORD>(acl));
    out.resize(acl + sizeof(ACL), 0);
    out[acl] = ACL_REVISION;
    appendAce(out, maskFromBits((st.st_mode >> 6) & 7, true), 22, {1, static_cast<DWORD>(st.st_uid)});
    appendAce(out, maskFromBits((st.st_mode >> 3) & 7, false), 22, {2, static_cast<DWORD>(st.st_gid)});
    appendAce(out, maskFromBits(st.st_mode & 7, false), 1, {0});
    putWord(out, acl + 2, static_cast<WORD>(out.size() - acl));
    putWord(out, acl + 4, 3);
  }
  putWord(out, 2, control);
  return out;
}

namespace {

// Control bits of a descriptor, by the part they belong to.
constexpr WORD kOwnerDefaulted = 0x0001, kGroupDefaulted = 0x0002, kDaclBits = 0x0004 | 0x0008 | 0x0400 | 0x1000,
               kSaclBits = 0x0010 | 0x0020 | 0x0800 | 0x2000, kSaclPresent = 0x0010;

// Length of a well-formed SID at `offset`, or 0.
size_t sidLength(const BYTE* data, size_t size, size_t offset) {
  if (offset > size || size - offset < 8) return 0;
  const BYTE* sid = data + offset;
  if (sid[0] != 1 || sid[1] > 15) return 0;
  size_t length = 8 + 4 * static_cast<size_t>(sid[1]);
  return size - offset < length ? 0 : length;
}

// Length of a well-formed ACL at `offset` (every entry inside it, and the SID of
// every allow, deny, audit and alarm entry well-formed), or 0.
size_t aclLength(const BYTE* data, size_t size, size_t offset) {
  if (offset > size || size - offset < 8) return 0;
  const BYTE* acl = data + offset;
  if (acl[0] != 2 && acl[0] != 4) return 0;  // ACL_REVISION, ACL_REVISION_DS
  size_t length = wordAt(acl + 2);
  size_t count = wordAt(acl + 4);
  if (length < 8 || length % 4 || size - offset < length) return 0;
  size_t at = 8;
  for (size_t i = 0; i < count; ++i) {
    if (length - at < 4) return 0;
    size_t aceSize = wordAt(acl + at + 2);
    if (aceSize < 4 || aceSize % 4 || length - at < aceSize) return 0;
    if (acl[at] <= 3) {  // the basic entries: header, mask, SID
      if (aceSize < 16) return 0;
      size_t sid = sidLength(acl + at, aceSize, 8);
      if (!sid || 8 + sid > aceSize) return 0;
    }
    at += aceSize;
  }
  return length;
}

}  // namespace

bool validSelfRelativeDescriptor(const BYTE* data, size_t size) {
  if (!data || size < sizeof(SECURITY_DESCRIPTOR_RELATIVE)) return false;
  if (data[0] != SECURITY_DESCRIPTOR_REVISION) return false;
  WORD control = wordAt(data + 2);
  if (!(control & SE_SELF_RELATIVE)) return false;
  DWORD owner = dwordAt(data + 4), group = dwordAt(data + 8), sacl = dwordAt(data + 12), dacl = dwordAt(data + 16);
  if (owner && !sidLength(data, size, owner)) return false;
  if (group && !sidLength(data, size, group)) return false;
  if ((control & kSaclPresent) && sacl && !aclLength(data, size, sacl)) return false;
  if ((control & SE_DACL_PRESENT) && dacl && !aclLength(data, size, dacl)) return false;
  return true;
}

std::vector<BYTE> descriptorParts(const std::vector<BYTE>& whole, SECURITY_INFORMATION requested) {
  const BYTE* data = whole.data();
  size_t size = whole.size();
  WORD control = wordAt(data + 2);
  DWORD owner = dwordAt(data + 4), group = dwordAt(data + 8), sacl = dwordAt(data + 12), dacl = dwordAt(data + 16);
  SECURITY_INFORMATION present = (owner ? OWNER_SECURITY_INFORMATION : 0) | (group ? GROUP_SECURITY_INFORMATION : 0) |
                                 ((control & kSaclPresent) ? SACL_SECURITY_INFORMATION : 0) |
                                 ((control & SE_DACL_PRESENT) ? DACL_SECURITY_INFORMATION : 0);
  if ((present & ~requested) == 0) return whole;  // all of it, as it was stored
  std::vector<BYTE> out(sizeof(SECURITY_DESCRIPTOR_RELATIVE), 0);
  out[0] = SECURITY_DESCRIPTOR_REVISION;
  WORD kept = SE_SELF_RELATIVE;
  auto append = [&](size_t field, DWORD offset, size_t length) {
    putDword(out, field, static_cast<DWORD>(out.size()));
    out.insert(out.end(), data + offset, data + offset + length);
  };
  if ((requested & OWNER_SECURITY_INFORMATION) && owner) {
    kept |= control & kOwnerDefaulted;
    append(4, owner, sidLength(data, size, owner));
  }
  if ((requested & GROUP_SECURITY_INFORMATION) && group) {
    kept |= control & kGroupDefaulted;
    append(8, group, sidLength(data, size, group));
  }
  if (requested & SACL_SECURITY_INFORMATION) {
    kept |= control & kSaclBits;
    if ((control & kSaclPresent) && sacl) append(12, sacl, aclLength(data, size, sacl));
  }
  if (requested & DACL_SECURITY_INFORMATION) {
    kept |= control & kDaclBits;
    if ((control & SE_DACL_PRESENT) && dacl) append(16, dacl, aclLength(data, size, dacl));
  }
  putWord(out, 2, kept);
  return out;
}

bool keptSecurity(int fd, std::vector<BYTE>& descriptor) {
  return readAlternateStream(fd, kKeptSecurityName, descriptor) &&
         validSelfRelativeDescriptor(descriptor.data(), descriptor.size());
}

bool keptSecurity(const std::string& hostPath, std::vector<BYTE>& descriptor) {
  std::string attribute = std::string("user.") + kKeptSecurityName;
  for (;;) {
    ssize_t size = getxattr(hostPath.c_str(), attribute.c_str(), nullptr, 0);
    if (size < 0) return false;
    descriptor.resize(static_cast<size_t>(size));
    ssize_t got = getxattr(hostPath.c_str(), attribute.c_str(), descriptor.data(), descriptor.size());
    if (got >= 0) {
      descriptor.resize(static_cast<size_t>(got));
      return validSelfRelativeDescriptor(descriptor.data(), descriptor.size());
    }
    if (errno != ERANGE) return false;
  }
}

BOOL keepSecurity(int fd, const std::vector<BYTE>& descriptor) {
  if (!validSelfRelativeDescriptor(descriptor.data(), descriptor.size())) return fail(ERROR_INVALID_SECURITY_DESCR);
  std::string attribute = std::string("user.") + kKeptSecurityName;
  if (fsetxattr(fd, attribute.c_str(), descriptor.data(), descriptor.size(), 0) != 0) return failErrno(errno);
  return TRUE;
}

// Extent of a self-relative descriptor given by address only, as its header says.
size_t descriptorExtent(const BYTE* data) {
  size_t end = sizeof(SECURITY_DESCRIPTOR_RELATIVE);
  WORD control = wordAt(data + 2);
  DWORD owner = dwordAt(data + 4), group = dwordAt(data + 8), sacl = dwordAt(data + 12), dacl = dwordAt(data + 16);
  auto grow = [&](size_t e) { end = e > end ? e : end; };
  if (owner) grow(owner + 8 + 4 * static_cast<size_t>(data[owner + 1]));
  if (group) grow(group + 8 + 4 * static_cast<size_t>(data[group + 1]));
  if ((control & kSaclPresent) && sacl) grow(sacl + wordAt(data + sacl + 2));
  if ((control & SE_DACL_PRESENT) && dacl) grow(dacl + wordAt(data + dacl + 2));
  return end;
}

// A descriptor with the parts of `a` named by `fromA` and the others of `b`.
std::vector<BYTE> combineDescriptors(const std::vector<BYTE>& a, SECURITY_INFORMATION fromA, const std::vector<BYTE>& b) {
  std::vector<BYTE> partA = descriptorParts(a, fromA), partB = descriptorParts(b, kAllParts & ~fromA);
  std::vector<BYTE> out(sizeof(SECURITY_DESCRIPTOR_RELATIVE), 0);
  out[0] = SECURITY_DESCRIPTOR_REVISION;
  WORD control = SE_SELF_RELATIVE;
  for (const auto* part : {&partA, &partB}) {
    const BYTE* d = part->data();
    WORD c = wordAt(d + 2);
    control |= c & ~SE_SELF_RELATIVE;
    for (size_t field = 4; field <= 16; field += 4) {
      DWORD offset = dwordAt(d + field);
      if (!offset) continue;
      size_t length = field <= 8 ? 8 + 4 * static_cast<size_t>(d[offset + 1]) : wordAt(d + offset + 2);
      DWORD at = static_cast<DWORD>(out.size());
      for (int i = 0; i < 4; ++i) out[field + i] = static_cast<BYTE>(at >> (8 * i));
      out.insert(out.end(), d + offset, d + offset + length);
    }
  }
  out[2] = static_cast<BYTE>(control);
  out[3] = static_cast<BYTE>(control >> 8);
  return out;
}

namespace {

// S-1-22-1-<uid>: the Unix user, as SID mappings for Unix users spell it.
std::vector<BYTE> currentUserSid() {
  std::vector<BYTE> sid(8 + 2 * sizeof(DWORD));
  sid[0] = 1;
  sid[1] = 2;
  sid[7] = 22;
  DWORD sub[2] = {1, static_cast<DWORD>(getuid())};
  std::memcpy(sid.data() + 8, sub, sizeof sub);
  return sid;
}

}  // namespace

bool sidValid(PSID sid) {
  auto* bytes = static_cast<const BYTE*>(sid);
  return bytes && bytes[0] == 1 && bytes[1] <= 15;
}

std::string sidString(PSID sid) {
  auto* bytes = static_cast<const BYTE*>(sid);
  ULONGLONG authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | bytes[i];
  std::string text = "S-1-" + std::to_string(authority);
  for (int i = 0; i < bytes[1]; ++i) {
    DWORD sub;
    std::memcpy(&sub, bytes + 8 + 4 * i, sizeof sub);
    text += "-" + std::to_string(sub);
  }
  return text;
}

}  // namespace om::standin

using namespace om::standin;

namespace {

class TokenObject : public KernelObject {
 public:
  std::vector<BYTE> userSid;
};

}  // namespace

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  if (!token) return fail(ERROR_INVALID_PARAMETER);
  if (process != GetCurrentProcess()) return fail(ERROR_ACCESS_DENIED);
  auto object = std::make_shared<TokenObject>();
  object->userSid = currentUserSid();
  *token = insertHandle(object);
  return TRUE;
}

BOOL WINAPI OpenThreadToken(HANDLE thread, DWORD access, BOOL openAsSelf, PHANDLE token) {
  if (!token) return fail(ERROR_INVALID_PARAMETER);
  *token = nullptr;
  return fail(ERROR_NO_TOKEN);  // threads never impersonate here
}

BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD size,
                                PDWORD returned) {
  auto object = lookup<TokenObject>(token);
  if (!object) return fail(ERROR_INVALID_HANDLE);
  if (infoClass != TokenUser) return fail(ERROR_INVALID_PARAMETER);
  DWORD needed = static_cast<DWORD>(sizeof(TOKEN_USER) + object->userSid.size());
  if (returned) *returned = needed;
  if (!info || size < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
  auto* user = static_cast<TOKEN_USER*>(info);
  BYTE* sid = reinterpret_cast<BYTE*>(user + 1);
  std::memcpy(sid, object->userSid.data(), object->userSid.size());
  user->User.Sid = sid;
  user->User.Attributes = 0;
  return TRUE;
}

BOOL WINAPI IsValidSid(PSID sid) { return sidValid(sid) ? TRUE : FALSE; }

DWORD WINAPI GetLengthSid(PSID sid) {
  if (!sidValid(sid)) return 0;
  return 8 + 4 * static_cast<const BYTE*>(sid)[1];
}

BOOL WINAPI CopySid(DWORD size, PSID destination, PSID source) {
  if (!sidValid(source) || !destination) return fail(ERROR_INVALID_SID);
  DWORD length = GetLengthSid(source);
  if (size < length) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(destination, source, length);
  return TRUE;
}

BOOL WINAPI ConvertSidToStringSidA(PSID sid, LPSTR* text) {
  if (!sidValid(sid) || !text) return fail(ERROR_INVALID_SID);
  std::string value = sidString(sid);
  *text = static_cast<LPSTR>(LocalAlloc(LPTR, value.size() + 1));
  if (!*text) return fail(ERROR_NOT_ENOUGH_MEMORY);
  std::memcpy(*text, value.c_str(), value.size() + 1);
  return TRUE;
}

BOOL WINAPI GetFileSecurityW(LPCWSTR path, SECURITY_INFORMATION requested, PSECURITY_DESCRIPTOR descriptor,
                             DWORD size, LPDWORD needed) {
  if (!needed) return fail(ERROR_INVALID_PARAMETER);
  if (requested & SACL_SECURITY_INFORMATION) return fail(ERROR_PRIVILEGE_NOT_HELD);
  struct stat st;
  std::string host;
  if (!statWindowsPath(path, st, host)) return FALSE;
  // A descriptor restored by BackupWrite is the file's security from then on.
  std::vector<BYTE> kept;
  std::vector<BYTE> bytes =
      keptSecurity(host, kept) ? descriptorParts(kept, requested) : securityDescriptorFor(st, requested);
  *needed = static_cast<DWORD>(bytes.size());
  if (!descriptor || size < bytes.size()) return fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(descriptor, bytes.data(), bytes.size());
  setLastError(ERROR_SUCCESS);
  return TRUE;
}
