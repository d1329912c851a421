// A few natives of the system bridge driven through the in-process JNI
// environment: natively on the stand-in, and as a Windows program on Wine's real
// file, backup-stream and registry calls.
#include <gtest/gtest.h>
#include <jni.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bridge_testing.h"
#include "platform/jni/testing/fake_jni.h"
#include "platform/testing/temp_folder.h"
#include "platform/win32.h"
#include "platform/win32_owners.h"

#include "com_ombrel_agentframework_os_dialup_DialupJNI.h"
#include "com_ombrel_agentframework_os_win32_BackupApi.h"
#include "com_ombrel_agentframework_os_win32_RegistryApi.h"
#include "com_ombrel_agentframework_os_win32_Util.h"
#include "com_ombrel_agentframework_os_win32_VolumeUtil.h"
#include "com_ombrel_agentservice_changejournal_ntfs_NtfsChangeJournal.h"
#include "com_ombrel_util_file_nativefs_Win32FileNatives.h"

namespace {

using bridgetest::shared;

void writeFile(const std::string& path, const std::string& content) {
  om::UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
}

TEST(SystemBridgeFakeJni, CreateFileAndBackupRead) {
  omtest::FakeJni& jni = shared();
  JNIEnv* env = jni.env();
  om::testing::TempFolder temp("rasbridge-");
  std::string dir = om::testing::windowsPath(temp.path());
  std::string path = dir + "\\data.txt";
  std::string content(5000, 'x');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 26);
  writeFile(path, content);

  jlong missing = Java_com_ombrel_agentframework_os_win32_BackupApi_CreateFile(
      env, nullptr, jni.string(dir + "\\none.txt"), static_cast<jint>(GENERIC_READ), 1, 0, OPEN_EXISTING,
      static_cast<jint>(FILE_FLAG_BACKUP_SEMANTICS), 0);
  EXPECT_EQ(missing, 0);
  EXPECT_EQ(jni.exceptionText().rfind("java/io/IOException: ", 0), 0u) << jni.exceptionText();
  EXPECT_GT(jni.exceptionText().size(), std::string("java/io/IOException: ").size());
  jni.clearException();

  jint attributes = Java_com_ombrel_agentframework_os_win32_BackupApi_GetFileAttributes(env, nullptr,
                                                                                        jni.string(dir + "\\"));
  EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY) << jni.exceptionText();
  // A root keeps its backslash ("C:" alone is the current folder of the drive).
  attributes = Java_com_ombrel_agentframework_os_win32_BackupApi_GetFileAttributes(env, nullptr, jni.string("C:\\"));
  EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY) << jni.exceptionText();
  jni.clearException();

  Java_com_ombrel_agentframework_os_win32_BackupApi_CreateFile(env, nullptr, nullptr, 0, 0, 0, OPEN_EXISTING, 0, 0);
  EXPECT_EQ(jni.exceptionText(), "java/lang/NullPointerException: ");
  jni.clearException();
  jlong handle = Java_com_ombrel_agentframework_os_win32_BackupApi_CreateFile(
      env, nullptr, jni.string(path), static_cast<jint>(GENERIC_READ), 1, 0, OPEN_EXISTING,
      static_cast<jint>(FILE_FLAG_BACKUP_SEMANTICS), 0);
  ASSERT_NE(handle, 0) << jni.exceptionText();
  jlongArray context = jni.longs(1);
  jbyteArray buffer = jni.bytes(1024 + 4);
  std::string stream;
  for (;;) {
    jint n = Java_com_ombrel_agentframework_os_win32_BackupApi_BackupRead(env, nullptr, context, handle, buffer, 4,
                                                                          1024, JNI_FALSE, JNI_FALSE);
#ifdef _WIN32
    if (n == -1 && jni.exceptionText() == "java/io/IOException: Request not supported.") {
      // Wine has no backup streams: the failure arrives as the exception it should be.
      jni.clearException();
      EXPECT_EQ(jni.openPins(), 0);
      CloseHandle(reinterpret_cast<HANDLE>(handle));
      return;
    }
#endif
    ASSERT_FALSE(jni.exceptionPending()) << jni.exceptionText();
    ASSERT_GE(n, 0);
    if (n == 0) break;
    std::vector<std::uint8_t> bytes = jni.bytesOf(buffer);
    stream.append(reinterpret_cast<const char*>(bytes.data()) + 4, static_cast<size_t>(n));
  }
  EXPECT_NE(jni.longsOf(context)[0], 0);
  EXPECT_EQ(Java_com_ombrel_agentframework_os_win32_BackupApi_BackupRead(env, nullptr, context, handle, buffer, 0, 0,
                                                                         JNI_TRUE, JNI_FALSE),
            0);
  EXPECT_EQ(jni.longsOf(context)[0], 0);
  EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(handle)));  // the abort closed it
  ASSERT_GE(stream.size(), 20 + content.size());
  EXPECT_EQ(stream.substr(stream.size() - content.size()), content);
  EXPECT_EQ(jni.openPins(), 0);

}

TEST(SystemBridgeFakeJni, DriveTypesAndMoves) {
  omtest::FakeJni& jni = shared();
  JNIEnv* env = jni.env();
  EXPECT_EQ(Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeDriveType(env, nullptr, jni.string("C:\\")), 3);
  om::testing::TempFolder temp("rasbridge-");
  std::string dir = om::testing::windowsPath(temp.path());
  EXPECT_EQ(Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeDriveType(env, nullptr, jni.string("Q:\\")), 1);
  std::string a = dir + "\\a.txt", b = dir + "\\b.txt";
  writeFile(a, "a");
  Java_com_ombrel_util_file_nativefs_Win32FileNatives_MoveFileEx0(env, nullptr, jni.string(a), jni.string(b), 0);
  EXPECT_FALSE(jni.exceptionPending()) << jni.exceptionText();
  EXPECT_EQ(GetFileAttributesA(a.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA(b.c_str()), INVALID_FILE_ATTRIBUTES);
  Java_com_ombrel_util_file_nativefs_Win32FileNatives_MoveFileEx0(env, nullptr, jni.string(a), jni.string(b), 0);
  EXPECT_EQ(jni.exceptionText().rfind("java/io/IOException: ", 0), 0u) << jni.exceptionText();
  jni.clearException();
  EXPECT_EQ(jni.openPins(), 0);
}

// The failure value of a change notification (INVALID_HANDLE_VALUE) is on Windows
// also the pseudo-handle of the process itself: no wait on it ends while the
// process lives, and closing it reports success. The natives treat it as what
// they meant by it, no handle.
TEST(SystemBridgeFakeJni, AFailedChangeNotificationIsNoHandle) {
  omtest::FakeJni& jni = shared();
  JNIEnv* env = jni.env();
  om::testing::TempFolder temp("rasbridge-");
  std::string dir = om::testing::windowsPath(temp.path());
  jlong failed = Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeFindFirstChangeNotification(
      env, nullptr, jni.string(dir + "\\none"), JNI_FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
  ASSERT_EQ(failed, -1);
  EXPECT_EQ(Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeWaitForSingleObject(env, nullptr, failed, 0),
            static_cast<jint>(WAIT_FAILED));
  EXPECT_FALSE(Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeFindNextChangeNotification(env, nullptr, failed));
  EXPECT_FALSE(Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeFindCloseChangeNotification(env, nullptr, failed));
  // One closed twice: the second close and a later wait fail.
  jlong watch = Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeFindFirstChangeNotification(
      env, nullptr, jni.string(dir), JNI_FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
  ASSERT_NE(watch, -1);
  EXPECT_TRUE(Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeFindCloseChangeNotification(env, nullptr, watch));
  EXPECT_FALSE(Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeFindCloseChangeNotification(env, nullptr, watch));
  EXPECT_EQ(Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeWaitForSingleObject(env, nullptr, watch, 0),
            static_cast<jint>(WAIT_FAILED));
  EXPECT_FALSE(jni.exceptionPending());
}

// However often the Java side runs them, the init natives keep one reference per class.
TEST(SystemBridgeFakeJni, InitsRunTwiceKeepTheirReferences) {
  omtest::FakeJni& jni = shared();
  JNIEnv* env = jni.env();
  Java_com_ombrel_agentframework_os_win32_BackupApi_init(env, nullptr);
  Java_com_ombrel_agentframework_os_win32_RegistryApi_init(env, nullptr);
  ASSERT_FALSE(jni.exceptionPending()) << jni.exceptionText();
  int references = jni.globalRefs();
  Java_com_ombrel_agentframework_os_win32_BackupApi_init(env, nullptr);
  Java_com_ombrel_agentframework_os_win32_RegistryApi_init(env, nullptr);
  EXPECT_FALSE(jni.exceptionPending()) << jni.exceptionText();
  EXPECT_EQ(jni.globalRefs(), references);
}

TEST(SystemBridgeFakeJni, RegistryKeys) {
  omtest::FakeJni& jni = shared();
  JNIEnv* env = jni.env();
  om::UniqueHkey created;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\OmBridgeTest\\Child", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, created.put(), nullptr),
            ERROR_SUCCESS);
  created.reset();
  auto root = static_cast<jlong>(reinterpret_cast<intptr_t>(HKEY_CURRENT_USER));
  jlong key = Java_com_ombrel_agentframework_os_win32_RegistryApi_RegOpenKeyEx(
      env, nullptr, root, jni.string("Software\\OmBridgeTest"), 0, KEY_READ);
  ASSERT_NE(key, 0) << jni.exceptionText();
  jstring name = Java_com_ombrel_agentframework_os_win32_RegistryApi_RegEnumKeyExW(env, nullptr, key, 0);
  ASSERT_NE(name, nullptr) << jni.exceptionText();
  EXPECT_EQ(env->GetStringLength(name), 5);
  EXPECT_EQ(Java_com_ombrel_agentframework_os_win32_RegistryApi_RegEnumKeyExW(env, nullptr, key, 1), nullptr);
  EXPECT_FALSE(jni.exceptionPending());
  Java_com_ombrel_agentframework_os_win32_RegistryApi_RegCloseKey(env, nullptr, key);
  EXPECT_FALSE(jni.exceptionPending()) << jni.exceptionText();

  EXPECT_EQ(Java_com_ombrel_agentframework_os_win32_RegistryApi_RegOpenKeyEx(
                env, nullptr, root, jni.string("Software\\OmBridgeTest\\None"), 0, KEY_READ),
            0);
  EXPECT_EQ(jni.exceptionText().rfind("java/lang/Exception: ", 0), 0u) << jni.exceptionText();
  jni.clearException();
  EXPECT_EQ(jni.openPins(), 0);
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\OmBridgeTest\\Child");
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\OmBridgeTest");
}

TEST(SystemBridgeFakeJni, HostAndVolumeQueries) {
  omtest::FakeJni& jni = shared();
  JNIEnv* env = jni.env();
  jint product = Java_com_ombrel_agentframework_os_win32_Util_GetProductType(env, nullptr);
  EXPECT_GE(product, 1);
  EXPECT_LE(product, 3);
  jstring name = Java_com_ombrel_agentframework_os_win32_Util_GetComputerNameEx(env, nullptr, 0);
  ASSERT_NE(name, nullptr) << jni.exceptionText();
  EXPECT_GT(env->GetStringLength(name), 0);
  EXPECT_LE(env->GetStringLength(name), 15);
  jstring volume = Java_com_ombrel_agentframework_os_win32_VolumeUtil_GetVolumePathName(
      env, nullptr, jni.string("C:\\windows\\system32"));
  ASSERT_NE(volume, nullptr) << jni.exceptionText();
  std::vector<jchar> text(static_cast<size_t>(env->GetStringLength(volume)));
  env->GetStringRegion(volume, 0, static_cast<jsize>(text.size()), text.data());
  EXPECT_EQ(std::string(text.begin(), text.end()), "C:\\");

  om::testing::TempFolder temp("rasbridge-");
  std::string dir = om::testing::windowsPath(temp.path());
  std::string a = dir + "\\id.txt";
  writeFile(a, "id");
  jlong id = Java_com_ombrel_agentframework_os_win32_Util_getFileId(env, nullptr, jni.string(a));
  EXPECT_NE(id, 0) << jni.exceptionText();
  EXPECT_EQ(Java_com_ombrel_agentframework_os_win32_Util_getFileId(env, nullptr, jni.string(dir + "\\none")), 0);
  EXPECT_EQ(jni.exceptionText().rfind("java/io/IOException: ", 0), 0u) << jni.exceptionText();
  jni.clearException();
  EXPECT_EQ(jni.openPins(), 0);
}

}  // namespace

#ifdef _WIN32
// Our catsrvut.dll lies beside this program, where the loader finds it first.
TEST(SystemBridgeFakeJni, CatalogueRestore) {
  omtest::FakeJni& jni = shared();
  om::testing::TempFolder temp("catalogue-");
  std::string backup = temp.file("catalog.clb");
  writeFile(backup, "x");
  EXPECT_NE(Java_com_ombrel_agentframework_os_win32_Util_RegDBRestoreN(jni.env(), nullptr, jni.string(backup)), 0);
  EXPECT_FALSE(jni.exceptionPending()) << jni.exceptionText();
  // A failing restore reports the text of the HRESULT it returned, not the last error it left.
  Java_com_ombrel_agentframework_os_win32_Util_RegDBRestoreN(jni.env(), nullptr, jni.string(backup + ".missing"));
  EXPECT_EQ(jni.exceptionText(), "java/lang/Exception: " + om::systemMessage(ERROR_FILE_NOT_FOUND));
  jni.clearException();
}
#endif

#ifndef _WIN32
// Without OM_RASAPI_SCRIPT this program does not find our RASAPI32 stand-in (it
// is not on its library path), so the dial-up natives answer their "unusable"
// values at once. (Wine always has a rasapi32 of its own.)
TEST(SystemBridgeFakeJni, DialupWithoutRasapi) {
  if (std::getenv("OM_RASAPI_SCRIPT")) GTEST_SKIP() << "run with the stand-in";
  omtest::FakeJni& jni = shared();
  JNIEnv* env = jni.env();
  EXPECT_EQ(Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasEnumEntries(env, nullptr), nullptr);
  EXPECT_EQ(Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasEnumConnections(env, nullptr), nullptr);
  EXPECT_EQ(Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasDial(env, nullptr, jni.string("Office"),
                                                                      jni.string("u"), jni.string("p")),
            -1);
  EXPECT_EQ(Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasGetConnectStatus(env, nullptr, 4097), 601);
  EXPECT_EQ(Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasHangUp(env, nullptr, 4097), -1);
  EXPECT_FALSE(jni.exceptionPending());
  EXPECT_EQ(jni.openPins(), 0);
}
#endif

#ifndef _WIN32
// A service named beyond the BMP is found under its own name (the stand-in's
// service manager; the fake JNI hands out modified UTF-8 as a JVM does).
TEST(SystemBridgeFakeJni, ServiceNamesReachTheSystemWhole) {
  omtest::FakeJni& jni = shared();
  std::string name = "OmDienst-\xC3\xBC-\xF0\x9F\x98\x80";  // UTF-8, the stand-in's ANSI code page
  om::UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(manager);
  om::UniqueServiceHandle service(CreateServiceA(manager.get(), name.c_str(), nullptr, SERVICE_ALL_ACCESS,
                                                 SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                 SERVICE_ERROR_NORMAL, "C:\\bin\\true", nullptr, nullptr, nullptr,
                                                 nullptr, nullptr));
  ASSERT_TRUE(service) << GetLastError();
  // Stopped already: found, and nothing to do.
  Java_com_ombrel_agentframework_os_win32_Util_StopServiceN(jni.env(), nullptr, jni.string(name));
  EXPECT_FALSE(jni.exceptionPending()) << jni.exceptionText();
  jni.clearException();
  DeleteService(service.get());
}

// The change-journal natives before NtfsChangeJournal.init (a process of its own
// on Linux): reported, not taken for an empty journal.
TEST(SystemBridgeFakeJni, ChangeJournalBeforeInit) {
  omtest::FakeJni& jni = shared();
  jobject callback = jni.object({});
  EXPECT_TRUE(Java_com_ombrel_agentservice_changejournal_ntfs_NtfsChangeJournal_readUSNJournalN(
      jni.env(), nullptr, 0, 0, -1, JNI_FALSE, 0, callback) == JNI_FALSE);
  EXPECT_EQ(jni.exceptionText(), "java/io/IOException: NtfsChangeJournal.init has not run");
  jni.clearException();
  EXPECT_EQ(Java_com_ombrel_agentservice_changejournal_ntfs_NtfsChangeJournal_enumerateUSN0(
                jni.env(), nullptr, 0, u'C', 0, 0, INT64_MAX, callback),
            0);
  EXPECT_EQ(jni.exceptionText(), "java/io/IOException: NtfsChangeJournal.init has not run");
  jni.clearException();
}

// With the stand-in and an empty phone book: an empty entry list, no connections.
TEST(SystemBridgeFakeJni, DialupEmptyPhoneBook) {
  if (!std::getenv("OM_RASAPI_SCRIPT")) GTEST_SKIP() << "run without the stand-in";
  omtest::FakeJni& jni = shared();
  JNIEnv* env = jni.env();
  EXPECT_EQ(bridgetest::phoneBook(jni), std::vector<std::string>{}) << jni.exceptionText();
  EXPECT_EQ(Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasEnumConnections(env, nullptr), nullptr);
  EXPECT_EQ(Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasDial(env, nullptr, jni.string("Office"),
                                                                      jni.string("u"), jni.string("p")),
            600 - 623);
  EXPECT_FALSE(jni.exceptionPending());
}
#endif

#ifdef _WIN32
// Wine's volumes have no change journal: the query fails as a Java exception.
TEST(SystemBridgeFakeJni, ChangeJournalQueryOnWine) {
  omtest::FakeJni& jni = shared();
  JNIEnv* env = jni.env();
  const char* classes[] = {"com/ombrel/agentservice/changejournal/ntfs/NtfsChangeJournalException",
                           "com/ombrel/agentservice/changejournal/ntfs/UsnJournalData",
                           "com/ombrel/agentservice/changejournal/ntfs/UsnRecord"};
  for (const char* name : classes) jni.type(name, {"<init>"});
  jni.type("com/ombrel/agentservice/changejournal/ntfs/UsnRecordCallback", {"record"});
  Java_com_ombrel_agentservice_changejournal_ntfs_NtfsChangeJournal_init(env, nullptr);
  ASSERT_FALSE(jni.exceptionPending()) << jni.exceptionText();
  om::UniqueFile volume(CreateFileA("C:\\", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(volume);
  jobject data = Java_com_ombrel_agentservice_changejournal_ntfs_NtfsChangeJournal_queryUSNJournal(
      env, nullptr, reinterpret_cast<jlong>(volume.get()));
  EXPECT_EQ(data, nullptr);
  EXPECT_TRUE(jni.exceptionPending());
  EXPECT_EQ(jni.exceptionText().rfind("java/io/IOException: ", 0), 0u) << jni.exceptionText();
  jni.clearException();
}
#endif

