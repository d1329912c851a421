// What every native of the system bridge shares: the process-wide state set up
// at process attach, the cache of Java classes, Java exceptions carrying system
// message texts, copies of Java strings into native strings, and the long-path
// prefix. Failures are thrown as Java exceptions; after throwing, a native
// returns its null value at once.
#pragma once
#include <jni.h>

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

namespace rasbridge {

// ---- process-wide state ------------------------------------------------------------
struct RasBinding {
  HMODULE module = nullptr;
  FARPROC hangUp = nullptr;
  FARPROC enumEntries = nullptr;
  FARPROC enumConnections = nullptr;
  FARPROC dial = nullptr;
  FARPROC getConnectStatus = nullptr;
  bool usable = false;
};
extern bool isNtPlatform;
extern HINSTANCE libraryInstance;
extern RasBinding ras;

// Process attach (reason 1) and detach (reason 0); always 1.
BOOL bridgeAttach(HINSTANCE instance, DWORD reason);
// True unless the running Windows reports the 9x platform.
bool queryNtPlatform();

// ---- class cache ---------------------------------------------------------------------
enum class Cached { NullPointer, Exception, IOException, String, OutOfMemory, Integer, Boolean, Object, Count };
// Fills the empty slots in order; stops at the first class that cannot be had
// (its lookup's exception stays pending). False when any slot stays empty.
bool ensureClassCache(JNIEnv* env);
// The cached class, filling the cache first when needed; null when it cannot be had.
jclass cachedClass(JNIEnv* env, Cached which);

// A global reference to a class looked up once and kept for the life of the process.
jclass keepClass(JNIEnv* env, const char* name);

// ---- exceptions ----------------------------------------------------------------------------
// The system's text for a Win32 code without its trailing CR LF, or "no error
// message"; free with LocalFree.
char* formatSystemMessage(DWORD code);
// Drops a trailing CR LF from a text of at least 3 characters.
void cutLineEnd(char* text);

void throwNew(JNIEnv* env, Cached which, const char* message);
void throwNew(JNIEnv* env, jclass type, const char* message);
inline void throwNullPointer(JNIEnv* env, const char* message = "") { throwNew(env, Cached::NullPointer, message); }
inline void throwOutOfMemory(JNIEnv* env) { throwNew(env, Cached::OutOfMemory, ""); }
void throwWithSystemMessage(JNIEnv* env, Cached which, DWORD code);
void throwWithSystemMessage(JNIEnv* env, jclass type, DWORD code);
inline void throwIOException(JNIEnv* env, DWORD code) { throwWithSystemMessage(env, Cached::IOException, code); }
inline void throwException(JNIEnv* env, DWORD code) { throwWithSystemMessage(env, Cached::Exception, code); }
// com.ombrel.util.exceptions.ErrorCodeException(message, code), bound by BackupApi.init.
void throwErrorCodeException(JNIEnv* env, DWORD code);
void bindErrorCodeException(jclass type, jmethodID constructor);

// ---- strings ---------------------------------------------------------------------------------
// Long-path prefix: "\\?\" before a path, "\\?\UNC\" in place of the first
// backslash of a UNC path; a path that has the prefix stays as it is. Returns the
// path to use; `allocated` tells whether it is a new buffer (free with std::free).
// Null when allocation fails.
WCHAR* addLongPathPrefix(WCHAR* path, size_t length, bool& allocated);
constexpr size_t kLongPath = 260;

// A Java string as zero-terminated UTF-16. A null string throws NullPointerException
// with an empty message; allocation failure OutOfMemoryError. With `pathRule`, a
// string of 260 characters or more gets the long-path prefix.
class JavaWide {
 public:
  JavaWide(JNIEnv* env, jstring text, bool pathRule = false);
  ~JavaWide();
  JavaWide(const JavaWide&) = delete;
  JavaWide& operator=(const JavaWide&) = delete;
  bool ok() const { return chars_ != nullptr; }
  const WCHAR* get() const { return chars_; }
  WCHAR* data() { return chars_; }
  size_t length() const { return length_; }

 private:
  WCHAR* chars_ = nullptr;
  size_t length_ = 0;
};

// A Java string as its modified UTF-8 bytes, zero-terminated. A null string throws
// NullPointerException with no message; allocation failure OutOfMemoryError.
class JavaUtf {
 public:
  JavaUtf(JNIEnv* env, jstring text);
  ~JavaUtf();
  JavaUtf(const JavaUtf&) = delete;
  JavaUtf& operator=(const JavaUtf&) = delete;
  bool ok() const { return chars_ != nullptr; }
  const char* get() const { return chars_; }

 private:
  char* chars_ = nullptr;
};

// ---- handles -----------------------------------------------------------------------------------
inline HANDLE toHandle(jlong value) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value)); }
inline void* toPointer(jlong value) { return reinterpret_cast<void*>(static_cast<intptr_t>(value)); }
inline jlong fromPointer(const void* pointer) { return static_cast<jlong>(reinterpret_cast<intptr_t>(pointer)); }

}  // namespace rasbridge
