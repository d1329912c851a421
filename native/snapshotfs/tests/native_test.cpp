// Native-side checks of omnative-win32-x64: the GUID byte order, and on Windows
// that the DLL loads and exports its natives; on Linux the stand-in calls the
// natives rest on (backup streams, NT directory queries, virtual memory).
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/xattr.h>
#endif

#include "natives.h"
#include "platform/testing/temp_folder.h"
#include "platform/win32_owners.h"

TEST(SnapshotFsGuid, BytesInMemoryOrder) {
  GUID guid{0x00112233, 0x4455, 0x6677, {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}};
  jbyte bytes[16];
  omnative::guidBytes(guid, bytes);
  const unsigned char expected[16] = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                      0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(0, std::memcmp(bytes, expected, 16));
}

TEST(SnapshotFsVirtual, AllocationsArePageAligned) {
  void* block = VirtualAlloc(nullptr, 10000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(block) % 4096);
  std::memset(block, 0x5A, 10000);
  EXPECT_FALSE(VirtualFree(block, 10000, MEM_RELEASE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_TRUE(VirtualFree(block, 0, MEM_RELEASE));
}

#ifdef _WIN32

TEST(SnapshotFsDll, LoadsAndExportsNatives) {
  om::UniqueModule module(LoadLibraryA(OMNATIVE_DLL));
  ASSERT_TRUE(module) << GetLastError();
  for (const char* name : {"Java_com_ombrel_disk_win32_Win32Kernel_FindFirstFile0",
                           "Java_com_ombrel_disk_win32_Win32Kernel_BackupRead",
                           "Java_com_ombrel_disk_win32_Win32NtDll_NtQueryDirectoryFile",
                           "Java_com_halvane_common_win32_VirtualBuffer_memcpy_1s__JI_3B",
                           "Java_com_halvane_common_win32_VirtualBuffer_memcpy_1s___3BJI",
                           "Java_com_ombrel_host_win32_Win32CpuId_cpuid"})
    EXPECT_NE(nullptr, reinterpret_cast<void*>(GetProcAddress(module.get(), name))) << name;
}

#else

namespace {

std::u16string windowsPath(const std::string& host) {
  std::string windows = om::testing::windowsPath(host);
  return std::u16string(windows.begin(), windows.end());
}

}  // namespace

TEST(SnapshotFsStandIn, BackupStreamsRoundTripInAnyChunks) {
  om::testing::TempFolder temp("omsnapfs.");
  std::string folder = temp.path();
  std::u16string source = windowsPath(folder + "/source.bin");
  om::UniqueFile file(CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  ASSERT_TRUE(file);
  std::vector<BYTE> content(10000);
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<BYTE>(i * 7);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
  file.reset();
  ASSERT_EQ(0, setxattr((folder + "/source.bin").c_str(), "user.notes", "hello", 5, 0));

  file.reset(CreateFileW(source.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(file);
  std::vector<BYTE> stream;
  LPVOID context = nullptr;
  BYTE chunk[333];
  DWORD got = 0;
  do {
    ASSERT_TRUE(BackupRead(file.get(), chunk, sizeof chunk, &got, FALSE, TRUE, &context));
    stream.insert(stream.end(), chunk, chunk + got);
  } while (got);
  ASSERT_TRUE(BackupRead(file.get(), nullptr, 0, &got, TRUE, TRUE, &context));
  EXPECT_EQ(nullptr, context);
  file.reset();

  for (DWORD size : {1u, 7u, 4096u}) {
    std::u16string copy = windowsPath(folder + "/copy" + std::to_string(size));
    om::UniqueFile target(
        CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(target);
    LPVOID writing = nullptr;
    for (size_t at = 0; at < stream.size(); at += size) {
      DWORD n = static_cast<DWORD>(std::min<size_t>(size, stream.size() - at));
      DWORD put = 0;
      ASSERT_TRUE(BackupWrite(target.get(), stream.data() + at, n, &put, FALSE, TRUE, &writing));
      ASSERT_EQ(n, put);
    }
    ASSERT_TRUE(BackupWrite(target.get(), nullptr, 0, &written, TRUE, TRUE, &writing));
    target.reset();
    std::string host = folder + "/copy" + std::to_string(size);
    char notes[16] = {};
    EXPECT_EQ(5, getxattr(host.c_str(), "user.notes", notes, sizeof notes));
    EXPECT_STREQ("hello", notes);
    FILE* f = fopen(host.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    std::vector<BYTE> back(content.size() + 1);
    EXPECT_EQ(content.size(), fread(back.data(), 1, back.size(), f));
    fclose(f);
    back.resize(content.size());
    EXPECT_EQ(content, back);
  }
}

TEST(SnapshotFsStandIn, DirectoryQueryListsEveryEntryOnce) {
  om::testing::TempFolder temp("omsnapfs.");
  std::string folder = temp.path();
  for (int i = 0; i < 25; ++i) {
    std::string path = folder + "/entry-" + std::to_string(i) + ".txt";
    FILE* f = fopen(path.c_str(), "w");
    fclose(f);
  }
  std::u16string name = windowsPath(folder);
  om::UniqueFile dir(CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                 nullptr));
  ASSERT_TRUE(dir);
  om::UniqueModule ntdll(LoadLibraryA("ntdll.dll"));
  ASSERT_TRUE(ntdll);
  typedef LONG (*Query)(HANDLE, HANDLE, PVOID, PVOID, void*, PVOID, ULONG, int, BOOLEAN, PVOID, BOOLEAN);
  auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(ntdll.get(), "NtQueryDirectoryFile")));
  ASSERT_NE(nullptr, query);
  ULONG_PTR block[2];
  std::vector<BYTE> buffer(300);
  size_t count = 0;
  for (;;) {
    LONG status = query(dir.get(), nullptr, nullptr, nullptr, block, buffer.data(), static_cast<ULONG>(buffer.size()), 1,
                        FALSE, nullptr, FALSE);
    if (status == static_cast<LONG>(0x80000006)) break;
    ASSERT_EQ(0, status);
    for (ULONG at = 0;;) {
      ++count;
      ULONG next;
      std::memcpy(&next, buffer.data() + at, 4);
      if (!next) break;
      EXPECT_EQ(0u, (at + next) % 8);
      at += next;
    }
  }
  EXPECT_EQ(27u, count);  // "." and ".." too
}

namespace {

std::vector<BYTE> sid(BYTE authority, std::initializer_list<DWORD> subs) {
  std::vector<BYTE> out = {1, static_cast<BYTE>(subs.size()), 0, 0, 0, 0, 0, authority};
  for (DWORD sub : subs)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<BYTE>(sub >> (8 * i)));
  return out;
}

void put16(std::vector<BYTE>& out, size_t at, unsigned value) {
  out[at] = static_cast<BYTE>(value);
  out[at + 1] = static_cast<BYTE>(value >> 8);
}
void put32(std::vector<BYTE>& out, size_t at, DWORD value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<BYTE>(value >> (8 * i));
}

// A descriptor as Windows stores one: DACL first, then owner and group, owner
// BUILTIN\Administrators, group SYSTEM, one allow entry for Everyone.
std::vector<BYTE> windowsDescriptor() {
  std::vector<BYTE> out(20, 0);
  out[0] = 1;
  put16(out, 2, 0x8000 | 0x1000 | 0x0004);  // self-relative, DACL auto-inherited, DACL present
  std::vector<BYTE> everyone = sid(1, {0});
  size_t acl = out.size();
  put32(out, 16, static_cast<DWORD>(acl));
  out.resize(acl + 8, 0);
  out[acl] = 2;
  size_t ace = out.size();
  out.resize(ace + 8, 0);
  out[ace] = 0;  // allow
  out[ace + 1] = 0x10;  // inherited
  put32(out, ace + 4, 0x1F01FF);
  out.insert(out.end(), everyone.begin(), everyone.end());
  put16(out, ace + 2, static_cast<unsigned>(out.size() - ace));
  put16(out, acl + 2, static_cast<unsigned>(out.size() - acl));
  put16(out, acl + 4, 1);
  std::vector<BYTE> owner = sid(5, {32, 544}), group = sid(5, {18});
  put32(out, 4, static_cast<DWORD>(out.size()));
  out.insert(out.end(), owner.begin(), owner.end());
  put32(out, 8, static_cast<DWORD>(out.size()));
  out.insert(out.end(), group.begin(), group.end());
  return out;
}

std::vector<BYTE> record(DWORD id, const std::vector<BYTE>& content) {
  std::vector<BYTE> out(20 + content.size(), 0);
  put32(out, 0, id);
  put32(out, 4, id == BACKUP_SECURITY_DATA ? STREAM_CONTAINS_SECURITY : 0);
  put32(out, 8, static_cast<DWORD>(content.size()));
  std::copy(content.begin(), content.end(), out.begin() + 20);
  return out;
}

// Writes `stream` with BackupWrite in one call; the result and the last error.
std::pair<BOOL, DWORD> backupWrite(const std::u16string& path, const std::vector<BYTE>& stream, BOOL security) {
  om::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE | WRITE_DAC | WRITE_OWNER, 0, nullptr, OPEN_ALWAYS,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return {FALSE, GetLastError()};
  LPVOID context = nullptr;
  DWORD put = 0;
  BOOL ok = BackupWrite(file.get(), const_cast<BYTE*>(stream.data()), static_cast<DWORD>(stream.size()), &put, FALSE,
                        security, &context);
  DWORD error = GetLastError();
  BackupWrite(file.get(), nullptr, 0, &put, TRUE, security, &context);
  return {ok, error};
}

std::vector<BYTE> backupReadAll(const std::u16string& path) {
  om::UniqueFile file(
      CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  std::vector<BYTE> stream;
  if (!file) return stream;
  LPVOID context = nullptr;
  BYTE chunk[512];
  DWORD got = 0;
  while (BackupRead(file.get(), chunk, sizeof chunk, &got, FALSE, TRUE, &context) && got)
    stream.insert(stream.end(), chunk, chunk + got);
  BackupRead(file.get(), nullptr, 0, &got, TRUE, TRUE, &context);
  return stream;
}

std::vector<BYTE> fileSecurity(const std::u16string& path, SECURITY_INFORMATION requested) {
  DWORD needed = 0;
  GetFileSecurityW(path.c_str(), requested, nullptr, 0, &needed);
  std::vector<BYTE> out(needed);
  if (!GetFileSecurityW(path.c_str(), requested, out.data(), needed, &needed)) out.clear();
  return out;
}

}  // namespace

TEST(SnapshotFsStandIn, RestoredSecurityIsReadBackAndMalformedIsRefused) {
  om::testing::TempFolder temp("omsnapfs.");
  std::string folder = temp.path();
  std::u16string target = windowsPath(folder + "/restored.bin");
  std::vector<BYTE> descriptor = windowsDescriptor();
  std::vector<BYTE> stream = record(BACKUP_SECURITY_DATA, descriptor);
  std::vector<BYTE> data = record(BACKUP_DATA, {'d', 'a', 't', 'a'});
  stream.insert(stream.end(), data.begin(), data.end());
  ASSERT_TRUE(backupWrite(target, stream, TRUE).first);

  // BackupRead gives back what was restored, and no alternate stream of it.
  EXPECT_EQ(stream, backupReadAll(target));
  EXPECT_EQ(descriptor, fileSecurity(target, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                                 DACL_SECURITY_INFORMATION));
  // One part alone: a descriptor holding just the owner, or just the DACL.
  std::vector<BYTE> owner = fileSecurity(target, OWNER_SECURITY_INFORMATION);
  std::vector<BYTE> administrators = sid(5, {32, 544});
  ASSERT_EQ(20 + administrators.size(), owner.size());
  EXPECT_EQ(std::vector<BYTE>(owner.begin() + 20, owner.end()), administrators);
  EXPECT_EQ(0x8000, owner[2] | (owner[3] << 8));
  std::vector<BYTE> dacl = fileSecurity(target, DACL_SECURITY_INFORMATION);
  ASSERT_EQ(20u + 28u, dacl.size());
  EXPECT_EQ(0x9004, dacl[2] | (dacl[3] << 8));
  EXPECT_EQ(0, std::memcmp(dacl.data() + 20, descriptor.data() + 20, 28));

  // Without security processing the stream is passed over, even a malformed one.
  std::u16string plain = windowsPath(folder + "/plain.bin");
  std::vector<BYTE> broken = descriptor;
  put32(broken, 4, 4000);  // owner beyond the end
  std::vector<BYTE> brokenStream = record(BACKUP_SECURITY_DATA, broken);
  brokenStream.insert(brokenStream.end(), data.begin(), data.end());
  ASSERT_TRUE(backupWrite(plain, brokenStream, FALSE).first);
  std::vector<BYTE> readBack = backupReadAll(plain);
  ASSERT_GE(readBack.size(), 20u);
  EXPECT_NE(descriptor, std::vector<BYTE>(readBack.begin() + 20, readBack.begin() + 20 + descriptor.size()));

  // With it, malformed descriptors are refused.
  auto refused = [&](std::vector<BYTE> bad) {
    std::u16string path = windowsPath(folder + "/refused.bin");
    auto result = backupWrite(path, record(BACKUP_SECURITY_DATA, bad), TRUE);
    return !result.first && result.second == static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR);
  };
  EXPECT_TRUE(refused(broken));
  EXPECT_TRUE(refused({}));
  std::vector<BYTE> notSelfRelative = descriptor;
  notSelfRelative[3] = 0;
  EXPECT_TRUE(refused(notSelfRelative));
  std::vector<BYTE> badAceSize = descriptor;
  put16(badAceSize, 20 + 8 + 2, 200);  // the entry runs past its list
  EXPECT_TRUE(refused(badAceSize));
  std::vector<BYTE> badSid = descriptor;
  badSid[descriptor.size() - 12 + 1] = 40;  // the group claims 40 sub-authorities
  EXPECT_TRUE(refused(badSid));

}

// Mutated descriptors through BackupWrite: each is refused with the descriptor
// error or kept, and whatever is kept reads back whole and in every part.
TEST(SnapshotFsStandIn, MutatedSecurityStreamsNeverCorruptTheFile) {
  om::testing::TempFolder temp("omsnapfs.");
  std::string folder = temp.path();
  std::u16string target = windowsPath(folder + "/mutated.bin");
  std::vector<BYTE> base = windowsDescriptor();
  unsigned seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
  int kept = 0;
  for (int round = 0; round < 1500; ++round) {
    std::vector<BYTE> descriptor = base;
    for (int flips = 1 + next() % 3; flips > 0; --flips)
      descriptor[next() % descriptor.size()] = static_cast<BYTE>(next());
    if (next() % 4 == 0) descriptor.resize(next() % descriptor.size());
    auto result = backupWrite(target, record(BACKUP_SECURITY_DATA, descriptor), TRUE);
    if (!result.first) {
      EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR), result.second);
      continue;
    }
    ++kept;
    std::vector<BYTE> stream = backupReadAll(target);
    ASSERT_GE(stream.size(), 20 + descriptor.size());
    EXPECT_EQ(0, std::memcmp(stream.data() + 20, descriptor.data(), descriptor.size()));
    for (SECURITY_INFORMATION part : {OWNER_SECURITY_INFORMATION, GROUP_SECURITY_INFORMATION,
                                      DACL_SECURITY_INFORMATION}) {
      std::vector<BYTE> piece = fileSecurity(target, part);
      ASSERT_GE(piece.size(), 20u);
      EXPECT_EQ(1, piece[0]);
    }
  }
  EXPECT_GT(kept, 0);
}

TEST(SnapshotFsStandIn, HiddenSystemAndArchiveRoundTrip) {
  om::testing::TempFolder temp("omsnapfs.");
  std::string folder = temp.path();
  std::u16string path = windowsPath(folder + "/flags.txt");
  om::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  ASSERT_TRUE(file);
  file.reset();
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesW(path.c_str()));

  const DWORD hiddenSystemReadOnly = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), hiddenSystemReadOnly));
  EXPECT_EQ(hiddenSystemReadOnly, GetFileAttributesW(path.c_str()));
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(hiddenSystemReadOnly, data.dwFileAttributes);
  file.reset(CreateFileW(path.c_str(), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file);
  BY_HANDLE_FILE_INFORMATION info;
  ASSERT_TRUE(GetFileInformationByHandle(file.get(), &info));
  EXPECT_EQ(hiddenSystemReadOnly, info.dwFileAttributes);
  FILE_BASIC_INFO basic;
  ASSERT_TRUE(GetFileInformationByHandleEx(file.get(), FileBasicInfo, &basic, sizeof basic));
  EXPECT_EQ(hiddenSystemReadOnly, basic.FileAttributes);
  file.reset();
  // The kept attributes are no alternate stream of the file.
  std::vector<BYTE> stream = backupReadAll(path);
  ASSERT_GE(stream.size(), 20u);
  EXPECT_EQ(stream.size(), 20u + (stream[8] | (stream[9] << 8)) + 20u);  // security and an empty data stream

  // Changing them on a read-only file keeps it read-only.
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesW(path.c_str()));
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), GetFileAttributesW(path.c_str()));
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesW(path.c_str()));
  char probe[8];
  EXPECT_LT(getxattr((folder + "/flags.txt").c_str(), "user.omstandin.attributes", probe, sizeof probe), 0)
      << "the default attributes need nothing kept";

  std::u16string sub = windowsPath(folder + "/sub");
  ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
  ASSERT_TRUE(SetFileAttributesW(sub.c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN), GetFileAttributesW(sub.c_str()));
  // A dot name reads as hidden until told otherwise.
  std::u16string dotted = windowsPath(folder + "/.profile");
  file.reset(CreateFileW(dotted.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  file.reset();
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN), GetFileAttributesW(dotted.c_str()));
  ASSERT_TRUE(SetFileAttributesW(dotted.c_str(), FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesW(dotted.c_str()));

  // A find reports the same attributes.
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_SYSTEM));
  std::u16string pattern = windowsPath(folder + "/*");
  WIN32_FIND_DATAW found;
  om::UniqueFind find(FindFirstFileW(pattern.c_str(), &found));
  ASSERT_TRUE(find);
  std::map<std::string, DWORD> listed;
  do {
    std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
    listed[std::string(name.begin(), name.end())] = found.dwFileAttributes;
  } while (FindNextFileW(find.get(), &found));
  find.reset();
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_SYSTEM), listed["flags.txt"]);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN), listed["sub"]);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), listed[".profile"]);
  EXPECT_EQ(5u, listed.size());

}


#endif
