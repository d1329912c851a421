// The natives of omnative-win32-x64 called as the agent calls them, through an
// in-process JNI environment instead of a JVM. Natively this runs on the
// stand-in; as a Windows program under Wine it drives the real file, find,
// attribute, security, NT query, virtual memory and CPUID calls of the DLL.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/jni/testing/fake_jni.h"
#include "platform/testing/temp_folder.h"
#include "platform/win32.h"
#include "platform/win32_owners.h"

#include "com_halvane_common_win32_VirtualBuffer.h"
#include "com_ombrel_disk_win32_Win32Kernel.h"
#include "com_ombrel_disk_win32_Win32NtDll.h"
#include "com_ombrel_host_win32_Win32CpuId.h"

namespace {

constexpr jint kOk = 0;
constexpr jint kInvalidParameter = 87;
constexpr jint kInsufficientBuffer = 122;
constexpr jint kFileNotFound = 2;
constexpr jint kNoMoreFiles = 18;
constexpr jint kStatusNoMoreFiles = static_cast<jint>(0x80000006u);
constexpr int kFileDirectoryInformation = 1;
constexpr int kFileStandardInformation = 5;

std::uint32_t u32(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
std::uint64_t u64(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint64_t v;
  std::memcpy(&v, b.data() + at, 8);
  return v;
}
std::u16string wideAt(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t maxChars) {
  std::u16string s;
  for (std::size_t i = 0; i < maxChars; ++i) {
    char16_t c;
    std::memcpy(&c, b.data() + at + 2 * i, 2);
    if (!c) break;
    s += c;
  }
  return s;
}
std::string narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

// A fresh folder under the system's temporary folder, in Windows spelling.
class SnapshotFsNatives : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string windows = om::testing::windowsPath(temp_.path());
    folder_.assign(windows.begin(), windows.end());
  }

  static std::u16string digits(unsigned long value) {
    std::string s = std::to_string(value);
    return std::u16string(s.begin(), s.end());
  }
  static const WCHAR* w(const std::u16string& s) { return reinterpret_cast<const WCHAR*>(s.c_str()); }

  std::u16string path(const std::u16string& name) { return folder_ + u"\\" + name; }

  // Creates a file through the natives and returns its handle.
  jlong create(const std::u16string& name, jint access, jint disposition, jint flags = 0) {
    jlongArray handle = jni.longs(1);
    jint status = Java_com_ombrel_disk_win32_Win32Kernel_CreateFile0(jni.env(), nullptr, jni.string(path(name)), access,
                                                                     FILE_SHARE_READ | FILE_SHARE_WRITE, disposition,
                                                                     flags, handle);
    EXPECT_EQ(kOk, status) << narrow(name);
    return jni.longsOf(handle)[0];
  }

  void writeFile(const std::u16string& name, const std::vector<std::uint8_t>& content) {
    jlong handle = create(name, GENERIC_WRITE, CREATE_ALWAYS);
    jintArray written = jni.ints(1);
    EXPECT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_WriteFile(jni.env(), nullptr, handle, jni.bytes(content), 0,
                                                                    static_cast<jint>(content.size()), written));
    EXPECT_EQ(static_cast<jint>(content.size()), jni.intsOf(written)[0]);
    EXPECT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_CloseHandle(jni.env(), nullptr, handle));
  }

  void TearDownCheck() {
    EXPECT_EQ(0, jni.openPins());
    EXPECT_FALSE(jni.exceptionPending()) << jni.exceptionText();
  }

  om::testing::TempFolder temp_{"omfakejni-"};
  omtest::FakeJni jni;
  std::u16string folder_;
};

TEST_F(SnapshotFsNatives, FindListsTheFolderAndKeepsTheBufferRules) {
  for (const char16_t* name : {u"alpha.txt", u"Beta.TXT", u"gamma.bin"}) writeFile(name, {1, 2, 3});

  // Out-array and buffer checks come before the search.
  jlongArray search = jni.longs(2, 77);
  EXPECT_EQ(kInvalidParameter, Java_com_ombrel_disk_win32_Win32Kernel_FindFirstFile0(
                                   jni.env(), nullptr, jni.string(path(u"*")), 0, 0, search, jni.bytes(592)));
  EXPECT_EQ((std::vector<jlong>{77, 77}), jni.longsOf(search));
  search = jni.longs(1, 77);
  EXPECT_EQ(kInsufficientBuffer, Java_com_ombrel_disk_win32_Win32Kernel_FindFirstFile0(
                                     jni.env(), nullptr, jni.string(path(u"*")), 0, 0, search, jni.bytes(591)));
  EXPECT_EQ(77, jni.longsOf(search)[0]);

  // Nothing matches: the invalid handle is written and the status is 2.
  EXPECT_EQ(kFileNotFound, Java_com_ombrel_disk_win32_Win32Kernel_FindFirstFile0(
                               jni.env(), nullptr, jni.string(path(u"*.none")), 0, 0, search, jni.bytes(592)));
  EXPECT_EQ(-1, jni.longsOf(search)[0]);

  // Case-insensitive wildcard, both matches, no more after them.
  jbyteArray data = jni.bytes(592);
  ASSERT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_FindFirstFile0(jni.env(), nullptr, jni.string(path(u"*.txt")),
                                                                       0, 0, search, data));
  jlong handle = jni.longsOf(search)[0];
  std::set<std::string> names{narrow(wideAt(jni.bytesOf(data), 44, 260))};
  jint status;
  while ((status = Java_com_ombrel_disk_win32_Win32Kernel_FindNextFile(jni.env(), nullptr, handle, data)) == kOk)
    names.insert(narrow(wideAt(jni.bytesOf(data), 44, 260)));
  EXPECT_EQ(kNoMoreFiles, status);
  EXPECT_EQ((std::set<std::string>{"alpha.txt", "Beta.TXT"}), names);
  EXPECT_EQ(kInsufficientBuffer, Java_com_ombrel_disk_win32_Win32Kernel_FindNextFile(jni.env(), nullptr, handle,
                                                                                     jni.bytes(100)));
  EXPECT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_FindClose(jni.env(), nullptr, handle));
  TearDownCheck();
}

TEST_F(SnapshotFsNatives, CreateWriteAttributesAndInformation) {
  jlong handle = create(u"data.bin", GENERIC_WRITE, CREATE_NEW);
  std::vector<std::uint8_t> content(20);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(100 + i);

  jintArray written = jni.ints(1);
  EXPECT_EQ(kInvalidParameter, Java_com_ombrel_disk_win32_Win32Kernel_WriteFile(jni.env(), nullptr, handle,
                                                                                jni.bytes(content), 0, 5, jni.ints(2)));
  EXPECT_EQ(kInvalidParameter, Java_com_ombrel_disk_win32_Win32Kernel_WriteFile(jni.env(), nullptr, handle,
                                                                                jni.bytes(content), 18, 5, written));
  EXPECT_EQ(kInvalidParameter, Java_com_ombrel_disk_win32_Win32Kernel_WriteFile(jni.env(), nullptr, handle,
                                                                                jni.bytes(content), -1, 5, written));
  ASSERT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_WriteFile(jni.env(), nullptr, handle, jni.bytes(content), 10,
                                                                  5, written));
  EXPECT_EQ(5, jni.intsOf(written)[0]);

  jbyteArray info = jni.bytes(52);
  EXPECT_EQ(kInsufficientBuffer, Java_com_ombrel_disk_win32_Win32Kernel_GetFileInformationByHandle(
                                     jni.env(), nullptr, handle, jni.bytes(51)));
  ASSERT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_GetFileInformationByHandle(jni.env(), nullptr, handle, info));
  EXPECT_EQ(5u, u32(jni.bytesOf(info), 36));  // nFileSizeLow
  EXPECT_EQ(1u, u32(jni.bytesOf(info), 40));  // nNumberOfLinks
  EXPECT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_SetFilePointerEx(jni.env(), nullptr, handle, 0, FILE_BEGIN));
  EXPECT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_CloseHandle(jni.env(), nullptr, handle));

  // Bytes 10 to 14 of the array are what the file holds.
  om::UniqueFile file(
      CreateFileW(w(path(u"data.bin")), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file);
  std::uint8_t back[16] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(file.get(), back, sizeof back, &got, nullptr));
  file.reset();
  ASSERT_EQ(5u, got);
  EXPECT_EQ(0, std::memcmp(back, content.data() + 10, 5));

  jbyteArray attributes = jni.bytes(36);
  EXPECT_EQ(kInsufficientBuffer, Java_com_ombrel_disk_win32_Win32Kernel_GetFileAttributesEx(
                                     jni.env(), nullptr, jni.string(path(u"data.bin")), jni.bytes(35)));
  EXPECT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_SetFileAttributes(jni.env(), nullptr,
                                                                          jni.string(path(u"data.bin")),
                                                                          FILE_ATTRIBUTE_READONLY));
  ASSERT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_GetFileAttributesEx(jni.env(), nullptr,
                                                                            jni.string(path(u"data.bin")), attributes));
  EXPECT_TRUE(u32(jni.bytesOf(attributes), 0) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(5u, u32(jni.bytesOf(attributes), 32));  // nFileSizeLow
  EXPECT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_SetFileAttributes(jni.env(), nullptr,
                                                                          jni.string(path(u"data.bin")),
                                                                          FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(kFileNotFound, Java_com_ombrel_disk_win32_Win32Kernel_GetFileAttributesEx(
                               jni.env(), nullptr, jni.string(path(u"missing.bin")), attributes));
  TearDownCheck();
}

TEST_F(SnapshotFsNatives, SecurityDescriptorByTheTwoCallProtocol) {
  writeFile(u"secured.bin", {9});
  jint length = Java_com_ombrel_disk_win32_Win32Kernel_GetFileSecurityLength(jni.env(), nullptr,
                                                                            jni.string(path(u"secured.bin")));
  ASSERT_GT(length, 20);
  jbyteArray descriptor = jni.bytes(static_cast<std::size_t>(length));
  ASSERT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_GetFileSecurity(jni.env(), nullptr,
                                                                        jni.string(path(u"secured.bin")), descriptor));
  std::vector<std::uint8_t> bytes = jni.bytesOf(descriptor);
  EXPECT_EQ(1, bytes[0]);                   // revision
  EXPECT_TRUE(bytes[2] | (bytes[3] << 8));  // control word
  EXPECT_TRUE((bytes[3] << 8) & 0x8000);    // self-relative
  EXPECT_EQ(kInsufficientBuffer, Java_com_ombrel_disk_win32_Win32Kernel_GetFileSecurity(
                                     jni.env(), nullptr, jni.string(path(u"secured.bin")), jni.bytes(8)));
  EXPECT_EQ(0, Java_com_ombrel_disk_win32_Win32Kernel_GetFileSecurityLength(jni.env(), nullptr,
                                                                           jni.string(path(u"missing.bin"))));
  TearDownCheck();
}

// An NtQueryDirectoryFile that answers STATUS_PENDING and completes on a thread
// of its own, as a query on a handle opened for overlapped I/O does: it fills the
// buffer and the status block, then signals the query's event (without one, the
// file handle, as the system does).
struct PendingQuery {
  static LONG WINAPI query(HANDLE file, HANDLE event, PVOID, PVOID, ULONG_PTR* block, PVOID buffer, ULONG length,
                           int, BOOLEAN, PVOID, BOOLEAN) {
    pinsWhilePending = jni->openPins();
    eventGiven = event != nullptr;
    completion = std::thread([=] {
      std::memset(buffer, 0x5A, length);
      block[0] = 0;  // STATUS_SUCCESS
      block[1] = length;
      SetEvent(event ? event : file);
    });
    return 0x103;  // STATUS_PENDING
  }
  static omtest::FakeJni* jni;
  static int pinsWhilePending;
  static bool eventGiven;
  static std::thread completion;
};
omtest::FakeJni* PendingQuery::jni = nullptr;
int PendingQuery::pinsWhilePending = -1;
bool PendingQuery::eventGiven = false;
std::thread PendingQuery::completion;

TEST_F(SnapshotFsNatives, PendingDirectoryQueryWaitsForItsOwnEventWithoutHoldingTheArray) {
  PendingQuery::jni = &jni;
  om::UniqueHandle file(CreateEventW(nullptr, TRUE, FALSE, nullptr));  // signalled when the I/O completes
  jbyteArray data = jni.bytes(64);
  jint status = Java_com_ombrel_disk_win32_Win32NtDll_NtQueryDirectoryFile(
      jni.env(), nullptr, reinterpret_cast<jlong>(&PendingQuery::query), reinterpret_cast<jlong>(file.get()), 1, data);
  PendingQuery::completion.join();
  EXPECT_EQ(kOk, status);
  EXPECT_TRUE(PendingQuery::eventGiven);
  EXPECT_EQ(0, PendingQuery::pinsWhilePending);  // no critical region across an unbounded wait
  EXPECT_EQ(std::vector<std::uint8_t>(64, 0x5A), jni.bytesOf(data));
  TearDownCheck();
}

TEST_F(SnapshotFsNatives, NtQueriesThroughEntriesFoundByTheNatives) {
  std::set<std::string> expected{".", ".."};
  for (int i = 0; i < 40; ++i) {
    std::u16string name = u"entry-" + digits(static_cast<unsigned long>(i)) + u".dat";
    writeFile(name, std::vector<std::uint8_t>(static_cast<std::size_t>(i)));
    expected.insert(narrow(name));
  }

  jlongArray module = jni.longs(1);
  ASSERT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_LoadLibrary(jni.env(), nullptr, jni.string("ntdll.dll"), module));
  jlongArray entry = jni.longs(1);
  EXPECT_EQ(kInvalidParameter, Java_com_ombrel_disk_win32_Win32Kernel_GetProcAddress(
                                   jni.env(), nullptr, jni.longsOf(module)[0], jni.string("NtQueryDirectoryFile"),
                                   jni.longs(0)));
  ASSERT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_GetProcAddress(
                     jni.env(), nullptr, jni.longsOf(module)[0], jni.string("NtQueryDirectoryFile"), entry));
  jlong queryDirectory = jni.longsOf(entry)[0];
  ASSERT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_GetProcAddress(
                     jni.env(), nullptr, jni.longsOf(module)[0], jni.string("NtQueryInformationFile"), entry));
  jlong queryInformation = jni.longsOf(entry)[0];
  EXPECT_NE(kOk, Java_com_ombrel_disk_win32_Win32Kernel_GetProcAddress(
                     jni.env(), nullptr, jni.longsOf(module)[0], jni.string("NoSuchEntryAnywhere"), entry));
  // A name without an exact form in the ANSI code page is refused, not looked up
  // as its look-alike (Wine's 1252 would give "NtQueryDirectoryFile"); in UTF-8
  // only an unpaired surrogate has none.
  const jint noExactForm = ERROR_NO_UNICODE_TRANSLATION;
  EXPECT_EQ(GetACP() == CP_UTF8 ? jint{ERROR_PROC_NOT_FOUND} : noExactForm,
            Java_com_ombrel_disk_win32_Win32Kernel_GetProcAddress(
                jni.env(), nullptr, jni.longsOf(module)[0], jni.string(u"NtQueryDirectoryFil\u0113"), entry));
  EXPECT_EQ(noExactForm, Java_com_ombrel_disk_win32_Win32Kernel_GetProcAddress(
                             jni.env(), nullptr, jni.longsOf(module)[0], jni.string(u"NtQueryDirectoryFile\xD800"),
                             entry));

  jlongArray handle = jni.longs(1);
  ASSERT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_CreateFile0(
                     jni.env(), nullptr, jni.string(folder_), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, handle));
  jlong directory = jni.longsOf(handle)[0];

  EXPECT_EQ(kInvalidParameter, Java_com_ombrel_disk_win32_Win32NtDll_NtQueryDirectoryFile(
                                   jni.env(), nullptr, 0, directory, kFileDirectoryInformation, jni.bytes(4096)));

  // A buffer of a few records at a time: the union of all records is the listing.
  std::set<std::string> seen;
  jbyteArray buffer = jni.bytes(400);
  jint status;
  int calls = 0;
  while ((status = Java_com_ombrel_disk_win32_Win32NtDll_NtQueryDirectoryFile(
              jni.env(), nullptr, queryDirectory, directory, kFileDirectoryInformation, buffer)) == kOk) {
    ASSERT_LT(++calls, 1000);
    std::vector<std::uint8_t> bytes = jni.bytesOf(buffer);
    for (std::size_t at = 0;;) {
      std::uint32_t next = u32(bytes, at);
      std::uint32_t nameBytes = u32(bytes, at + 60);
      ASSERT_LE(at + 64 + nameBytes, bytes.size());
      seen.insert(narrow(wideAt(bytes, at + 64, nameBytes / 2)));
      if (!next) break;
      EXPECT_EQ(0u, next % 8);
      at += next;
    }
  }
  EXPECT_EQ(kStatusNoMoreFiles, status);
  EXPECT_GT(calls, 1);
  EXPECT_EQ(expected, seen);

  jbyteArray standard = jni.bytes(24);
  ASSERT_EQ(kOk, Java_com_ombrel_disk_win32_Win32NtDll_NtQueryInformationFile(
                     jni.env(), nullptr, queryInformation, directory, kFileStandardInformation, standard));
  EXPECT_EQ(1, jni.bytesOf(standard)[21]);  // Directory
  EXPECT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_CloseHandle(jni.env(), nullptr, directory));
  TearDownCheck();
}

TEST_F(SnapshotFsNatives, VirtualBuffersAndBoundedCopies) {
  jlongArray address = jni.longs(1);
  EXPECT_EQ(kInvalidParameter, Java_com_halvane_common_win32_VirtualBuffer_VirtualAlloc(
                                   jni.env(), nullptr, jni.longs(2), 8192, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ASSERT_EQ(kOk, Java_com_halvane_common_win32_VirtualBuffer_VirtualAlloc(jni.env(), nullptr, address, 8192,
                                                                          MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  jlong block = jni.longsOf(address)[0];
  EXPECT_EQ(0, block % 4096);

  std::vector<std::uint8_t> ten{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(0, Java_com_halvane_common_win32_VirtualBuffer_memcpy_1s__JI_3B(jni.env(), nullptr, block, 16,
                                                                           jni.bytes(ten)));
  jbyteArray back = jni.bytes(10);
  EXPECT_EQ(0, Java_com_halvane_common_win32_VirtualBuffer_memcpy_1s___3BJI(jni.env(), nullptr, back, block, 10));
  EXPECT_EQ(ten, jni.bytesOf(back));
  // Ten bytes into a block of size 8: the eight bytes are zero-filled, ERANGE.
  EXPECT_EQ(34, Java_com_halvane_common_win32_VirtualBuffer_memcpy_1s__JI_3B(jni.env(), nullptr, block, 8,
                                                                            jni.bytes(ten)));
  EXPECT_EQ(0, Java_com_halvane_common_win32_VirtualBuffer_memcpy_1s___3BJI(jni.env(), nullptr, back, block, 10));
  EXPECT_EQ((std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 9, 10}), jni.bytesOf(back));
  // More than the Java array holds: nothing is read past it.
  jbyteArray four = jni.bytes(4);
  EXPECT_EQ(34, Java_com_halvane_common_win32_VirtualBuffer_memcpy_1s___3BJI(jni.env(), nullptr, four, block, 10));
  EXPECT_EQ((std::vector<std::uint8_t>(4, 0)), jni.bytesOf(four));
  EXPECT_EQ(kOk, Java_com_halvane_common_win32_VirtualBuffer_VirtualFree(jni.env(), nullptr, block, 0, MEM_RELEASE));
  // Memory that is not there (freed, or address 16) is refused both ways, never touched.
  for (jlong nowhere : {block, jlong{16}}) {
    EXPECT_EQ(22, Java_com_halvane_common_win32_VirtualBuffer_memcpy_1s__JI_3B(jni.env(), nullptr, nowhere, 16,
                                                                              jni.bytes(ten)));
    jbyteArray filled = jni.bytes(ten);
    EXPECT_EQ(22, Java_com_halvane_common_win32_VirtualBuffer_memcpy_1s___3BJI(jni.env(), nullptr, filled, nowhere, 10));
    EXPECT_EQ(std::vector<std::uint8_t>(10, 0), jni.bytesOf(filled));
  }
  TearDownCheck();
}

TEST_F(SnapshotFsNatives, CpuidLeafZeroAndShortArrays) {
  jintArray registers = jni.ints(4);
  ASSERT_EQ(kOk, Java_com_ombrel_host_win32_Win32CpuId_cpuid(jni.env(), nullptr, registers, 0));
  std::vector<jint> r = jni.intsOf(registers);
  EXPECT_GT(r[0], 0);
  char vendor[13] = {};
  std::memcpy(vendor, &r[1], 4);
  std::memcpy(vendor + 4, &r[3], 4);
  std::memcpy(vendor + 8, &r[2], 4);
  EXPECT_TRUE(std::string(vendor) == "GenuineIntel" || std::string(vendor) == "AuthenticAMD") << vendor;

  jintArray two = jni.ints(2);
  EXPECT_NE(kOk, Java_com_ombrel_host_win32_Win32CpuId_cpuid(jni.env(), nullptr, two, 0));
  EXPECT_EQ((std::vector<jint>{0, 0}), jni.intsOf(two));
  TearDownCheck();
}

TEST_F(SnapshotFsNatives, BackupReadKeepsItsOutArrayRules) {
  writeFile(u"streams.bin", std::vector<std::uint8_t>(1000, 0x42));
  jlong handle = create(u"streams.bin", GENERIC_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  jlongArray context = jni.longs(1);
  jintArray read = jni.ints(1);
  jbyteArray buffer = jni.bytes(4096);
  EXPECT_EQ(kInvalidParameter, Java_com_ombrel_disk_win32_Win32Kernel_BackupRead(
                                   jni.env(), nullptr, handle, buffer, 0, 4096, jni.ints(2), JNI_FALSE, context));
  EXPECT_EQ(kInvalidParameter, Java_com_ombrel_disk_win32_Win32Kernel_BackupRead(jni.env(), nullptr, handle, buffer,
                                                                                 4000, 200, read, JNI_FALSE, context));
  EXPECT_EQ(kInvalidParameter, Java_com_ombrel_disk_win32_Win32Kernel_BackupSeek(jni.env(), nullptr, handle, 5,
                                                                                 jni.longs(1), jni.longs(3)));
  // Where the system has backup streams (the stand-in does, Wine does not) the
  // first record is the data stream of the file's 1000 bytes.
  jint status = Java_com_ombrel_disk_win32_Win32Kernel_BackupRead(jni.env(), nullptr, handle, buffer, 0, 4096, read,
                                                                  JNI_FALSE, context);
  if (status == kOk) {
    std::vector<std::uint8_t> bytes = jni.bytesOf(buffer);
    EXPECT_EQ(1u, u32(bytes, 0));        // BACKUP_DATA
    EXPECT_EQ(1000u, u64(bytes, 8));     // stream size
    EXPECT_NE(0, jni.longsOf(context)[0]);
    EXPECT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_BackupReadAbort(jni.env(), nullptr, handle, JNI_FALSE,
                                                                          context));
  }
  EXPECT_EQ(kOk, Java_com_ombrel_disk_win32_Win32Kernel_CloseHandle(jni.env(), nullptr, handle));
  TearDownCheck();
}

// Offsets, lengths and array sizes as a careless or hostile caller might pass
// them: a range outside the array gives 87 and touches nothing; whatever the
// arguments, no native reads or writes past a Java array (the sanitizer build
// and the exact-size pinned copies catch that) and every pin is released.
TEST_F(SnapshotFsNatives, BufferArgumentsOutsideTheArrayAreRefused) {
  writeFile(u"target.bin", std::vector<std::uint8_t>(64, 1));
  jlong file = create(u"target.bin", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  jlong out = create(u"restored.bin", GENERIC_WRITE, CREATE_ALWAYS, FILE_FLAG_BACKUP_SEMANTICS);

  std::mt19937 random(20261209);
  const jint edges[] = {0, 1, 7, 63, 64, 65, 4096, -1, -64, 0x7FFFFFFF, static_cast<jint>(0x80000000u)};
  auto pick = [&](jint size) -> jint {
    switch (random() % 4) {
      case 0: return edges[random() % (sizeof edges / sizeof edges[0])];
      case 1: return static_cast<jint>(random() % (static_cast<unsigned>(size) + 2));
      case 2: return size - static_cast<jint>(random() % 3);
      default: return static_cast<jint>(random());
    }
  };
  for (int round = 0; round < 3000; ++round) {
    jint size = static_cast<jint>(random() % 80);
    std::vector<std::uint8_t> fill(static_cast<std::size_t>(size), 0xAB);
    jbyteArray buffer = jni.bytes(fill);
    jint offset = pick(size), length = pick(size);
    bool inside = offset >= 0 && length >= 0 && static_cast<std::int64_t>(offset) + length <= size;
    jintArray count = jni.ints(1);
    jlongArray context = jni.longs(1);
    jint status = 0;
    switch (round % 5) {
      case 0:
        status = Java_com_ombrel_disk_win32_Win32Kernel_WriteFile(jni.env(), nullptr, out, buffer, offset, length, count);
        break;
      case 1:
        status = Java_com_ombrel_disk_win32_Win32Kernel_BackupRead(jni.env(), nullptr, file, buffer, offset, length,
                                                                   count, JNI_FALSE, context);
        if (jni.longsOf(context)[0])
          Java_com_ombrel_disk_win32_Win32Kernel_BackupReadAbort(jni.env(), nullptr, file, JNI_FALSE, context);
        break;
      case 2:
        status = Java_com_ombrel_disk_win32_Win32Kernel_BackupWrite(jni.env(), nullptr, out, buffer, offset, length,
                                                                    count, JNI_FALSE, context);
        if (jni.longsOf(context)[0])
          Java_com_ombrel_disk_win32_Win32Kernel_BackupWriteAbort(jni.env(), nullptr, out, JNI_FALSE, context);
        break;
      case 3: {
        // Copies between a native block and an array, with any length and size.
        static std::uint8_t block[128];
        jlong address = static_cast<jlong>(reinterpret_cast<std::intptr_t>(block));
        if (random() % 2)
          Java_com_halvane_common_win32_VirtualBuffer_memcpy_1s___3BJI(jni.env(), nullptr, buffer, address,
                                                                      length < 128 ? length : 128);
        else
          Java_com_halvane_common_win32_VirtualBuffer_memcpy_1s__JI_3B(jni.env(), nullptr, address,
                                                                      length < 128 ? length : 128, buffer);
        inside = true;
        break;
      }
      default: {
        jintArray registers = jni.ints(static_cast<std::size_t>(random() % 6));
        Java_com_ombrel_host_win32_Win32CpuId_cpuid(jni.env(), nullptr, registers, static_cast<jint>(random() % 2));
        inside = true;
        break;
      }
    }
    if (!inside) {
      ASSERT_EQ(kInvalidParameter, status) << "round " << round << " offset " << offset << " length " << length;
      ASSERT_EQ(fill, jni.bytesOf(buffer));
      ASSERT_EQ(0, jni.intsOf(count)[0]);
    }
    ASSERT_EQ(0, jni.openPins());
    ASSERT_FALSE(jni.exceptionPending()) << jni.exceptionText();
  }
  Java_com_ombrel_disk_win32_Win32Kernel_CloseHandle(jni.env(), nullptr, file);
  Java_com_ombrel_disk_win32_Win32Kernel_CloseHandle(jni.env(), nullptr, out);
}

}  // namespace
