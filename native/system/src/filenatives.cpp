// com.ombrel.util.file.nativefs.Win32FileNatives: directory listings with
// reparse-point detection, directory change notifications, drive types and moves.
#include <array>
#include <atomic>
#include <cstring>
#include <optional>

#include "bridge.h"
#include "com_ombrel_util_file_nativefs_Win32FileNatives.h"

using namespace rasbridge;

namespace {

constexpr DWORD kReparseTagSymlink = 0xA000000C;
constexpr DWORD kReparseTagMountPoint = 0xA0000003;

enum EntryField { kFilename, kFileattrib, kFilesize, kDirectory, kSymbolicLink, kJunctionPoint, kExtraFlags, kEntryFields };
constexpr std::array<FieldSpec, kEntryFields> kEntryFieldSpecs = {{{"filename", "Ljava/lang/String;"},
                                                                  {"fileattrib", "J"},
                                                                  {"filesize", "J"},
                                                                  {"directory", "Z"},
                                                                  {"isSymbolicLink", "Z"},
                                                                  {"isJunctionPoint", "Z"},
                                                                  {"extraFlags", "J"}}};
using EntryFields = ObjectFields<kEntryFields>;

// One set per search native, from the class of the first entry passed to it.
EntryFields firstFileFields(kEntryFieldSpecs), nextFileFields(kEntryFieldSpecs);
std::atomic<jclass> fileNotFoundClass{nullptr};

// Every field from this result alone, so nothing carries over from an earlier entry.
template <class FindData>
bool fillEntry(JNIEnv* env, jobject entry, const EntryFields::Ids& f, const FindData& data, jstring name) {
  if (!name) return false;
  DWORD attributes = data.dwFileAttributes;
  bool reparse = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
  bool directory = attributes & FILE_ATTRIBUTE_DIRECTORY;
  env->SetObjectField(entry, f[kFilename], name);
  env->DeleteLocalRef(name);
  env->SetLongField(entry, f[kFileattrib], static_cast<jlong>(attributes));
  env->SetLongField(entry, f[kFilesize],
                    static_cast<jlong>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow));
  env->SetBooleanField(entry, f[kDirectory], directory ? JNI_TRUE : JNI_FALSE);
  env->SetBooleanField(entry, f[kSymbolicLink], reparse && data.dwReserved0 == kReparseTagSymlink);
  env->SetBooleanField(entry, f[kJunctionPoint], reparse && directory && data.dwReserved0 == kReparseTagMountPoint);
  env->SetLongField(entry, f[kExtraFlags], static_cast<jlong>(data.dwReserved0));
  return true;
}

// The failure value of nativeFindFirstChangeNotification, INVALID_HANDLE_VALUE, is
// also the pseudo-handle of the process itself: a wait on it would last while the
// process lives and closing it would succeed. It names no notification.
bool noNotification(jlong handle) {
  if (fromJava<HANDLE>(handle) != INVALID_HANDLE_VALUE) return false;
  SetLastError(ERROR_INVALID_HANDLE);
  return true;
}

// A refused pattern finds nothing, as a failed search reports it.
void throwFileNotFound(JNIEnv* env, DWORD code) { throwWithSystemMessage(env, fileNotFoundClass.load(), code); }

// MoveFileEx0 looks its exception class up when it throws.
void throwMoveFailure(JNIEnv* env, DWORD code) { throwByNameWithSystemMessage(env, "java/io/IOException", code); }

jstring nameOf(JNIEnv* env, const WIN32_FIND_DATAW& data) { return newStringZ(env, data.cFileName, MAX_PATH); }
jstring nameOf(JNIEnv* env, const WIN32_FIND_DATAA& data) {
  char name[MAX_PATH + 1];
  std::memcpy(name, data.cFileName, MAX_PATH);
  name[MAX_PATH] = 0;
  return newStringAnsi(env, name);
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeDriveType(JNIEnv* env, jclass,
                                                                                        jstring rootPath) {
  UINT type;
  if (isNtPlatform) {
    WideName root(env, rootPath, kQuietly);
    if (!root.ok()) return 0;
    type = GetDriveTypeW(root.get());
  } else {
    AnsiName root(env, rootPath, kQuietly);
    if (!root.ok()) return 0;
    type = GetDriveTypeA(root.get());
  }
  return type >= DRIVE_NO_ROOT_DIR && type <= DRIVE_RAMDISK ? static_cast<jint>(type) : 0;
}

JNIEXPORT jlong JNICALL Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeFindFirstChangeNotification(
    JNIEnv* env, jclass, jstring path, jboolean watchSubtree, jint filter) {
  WideName folder(env, path, kQuietly, kWithoutMessage);
  if (!folder.ok()) return toJava(INVALID_HANDLE_VALUE);
  return toJava(FindFirstChangeNotificationW(folder.get(), watchSubtree ? TRUE : FALSE, static_cast<DWORD>(filter)));
}

JNIEXPORT jboolean JNICALL Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeFindNextChangeNotification(
    JNIEnv*, jclass, jlong handle) {
  if (noNotification(handle)) return JNI_FALSE;
  return FindNextChangeNotification(fromJava<HANDLE>(handle)) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeFindCloseChangeNotification(
    JNIEnv*, jclass, jlong handle) {
  if (noNotification(handle)) return JNI_FALSE;
  return FindCloseChangeNotification(fromJava<HANDLE>(handle)) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jint JNICALL Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeWaitForSingleObject(
    JNIEnv*, jclass, jlong handle, jint milliseconds) {
  if (noNotification(handle)) return static_cast<jint>(WAIT_FAILED);
  return static_cast<jint>(WaitForSingleObject(fromJava<HANDLE>(handle), static_cast<DWORD>(milliseconds)));
}

JNIEXPORT jlong JNICALL Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeFindFirstFile(JNIEnv* env, jclass,
                                                                                             jstring pattern,
                                                                                             jobject entry) {
  if (!entry) {
    throwNullPointer(env);
    return 0;
  }
  if (!ensureClassCache(env)) return 0;
  EntryFields::Ids fields;
  if (!firstFileFields.get(env, entry, fields)) return 0;
  if (!fileNotFoundClass.load()) {
    jclass type = keepClass(env, "java/io/FileNotFoundException");
    if (!type) return 0;
    fileNotFoundClass.store(type);
  }
  if (isNtPlatform) {
    WidePath path(env, pattern, throwFileNotFound);
    if (!path.ok()) return 0;
    WIN32_FIND_DATAW data;
    om::UniqueFind search(FindFirstFileW(path.get(), &data));
    if (!search) {
      throwNew(env, fileNotFoundClass.load(), "");
      return 0;
    }
    if (!fillEntry(env, entry, fields, data, nameOf(env, data))) return 0;
    return toJava(search.release());
  }
  AnsiName path(env, pattern, kQuietly);
  if (!path.ok()) return 0;
  WIN32_FIND_DATAA data;
  om::UniqueFind search(FindFirstFileA(path.get(), &data));
  if (!search || !fillEntry(env, entry, fields, data, nameOf(env, data))) return 0;
  return toJava(search.release());
}

JNIEXPORT jobject JNICALL Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeFindNextFile(JNIEnv* env, jclass,
                                                                                              jlong handle,
                                                                                              jobject entry) {
  if (!entry || handle == 0) {
    throwNullPointer(env);
    return nullptr;
  }
  EntryFields::Ids fields;
  if (!nextFileFields.get(env, entry, fields)) return nullptr;
  if (isNtPlatform) {
    WIN32_FIND_DATAW data;
    if (!FindNextFileW(fromJava<HANDLE>(handle), &data)) return nullptr;
    return fillEntry(env, entry, fields, data, nameOf(env, data)) ? entry : nullptr;
  }
  WIN32_FIND_DATAA data;
  if (!FindNextFileA(fromJava<HANDLE>(handle), &data)) return nullptr;
  return fillEntry(env, entry, fields, data, nameOf(env, data)) ? entry : nullptr;
}

JNIEXPORT jboolean JNICALL Java_com_ombrel_util_file_nativefs_Win32FileNatives_nativeFindClose(JNIEnv*, jclass,
                                                                                            jlong handle) {
  return FindClose(fromJava<HANDLE>(handle)) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_com_ombrel_util_file_nativefs_Win32FileNatives_MoveFileEx0(JNIEnv* env, jclass,
                                                                                    jstring from, jstring to,
                                                                                    jint flags) {
  WideName source(env, from, throwMoveFailure);
  if (!source.ok()) return;
  std::optional<WideName> target;
  if (to) {
    target.emplace(env, to, throwMoveFailure);
    if (!target->ok()) return;
  }
  if (MoveFileExW(source.get(), target ? target->get() : nullptr, static_cast<DWORD>(flags))) return;
  throwMoveFailure(env, GetLastError());
}

}  // extern "C"
