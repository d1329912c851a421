// What every native of the system bridge shares: the process-wide state set up
// at process attach, the cache of Java classes, Java exceptions carrying system
// message texts, copies of Java strings into native strings, and the long-path
// prefix. Failures are thrown as Java exceptions; after throwing, a native
// returns its null value at once.
#pragma once
#include <jni.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>

#include "platform/jni/jni_glue.h"
#include "platform/win32.h"

namespace rasbridge {

using namespace om::jni;

// ---- process-wide state ------------------------------------------------------------
// Constant-initialised (plain members): the Linux build's load-time hook may run
// before the library's dynamic initialisers.
struct RasBinding {
  HMODULE module = nullptr;  // freed at process detach
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

// ---- fields of objects the caller supplies ------------------------------------------
struct FieldSpec {
  const char* name;
  const char* signature;
};
// Field identifiers of the class of the first object a native is given, kept for
// the life of the process. An object of another class gets its own class's
// identifiers, looked up for that call, so identifiers of one class never reach
// an object of another (which a JVM does not check: memory would be overwritten).
template <size_t N>
class ObjectFields {
 public:
  using Ids = std::array<jfieldID, N>;
  constexpr explicit ObjectFields(const std::array<FieldSpec, N>& specs) : specs_(specs) {}
  // The identifiers for `object`, in the order of the specs; false with the
  // lookup's NoSuchFieldError pending.
  bool get(JNIEnv* env, jobject object, Ids& ids) {
    Kept* kept = kept_.load();
    if (kept && env->IsInstanceOf(object, kept->type)) {
      ids = kept->ids;
      return true;
    }
    jclass type = env->GetObjectClass(object);
    bool ok = type != nullptr;
    for (size_t i = 0; ok && i < N; ++i) ok = (ids[i] = env->GetFieldID(type, specs_[i].name, specs_[i].signature));
    if (ok && !kept) {
      // The first class to get here is kept; a thread that loses the race drops its copy.
      auto* made = new (std::nothrow) Kept{static_cast<jclass>(env->NewGlobalRef(type)), ids};
      Kept* none = nullptr;
      if (made && (!made->type || !kept_.compare_exchange_strong(none, made))) {
        if (made->type) env->DeleteGlobalRef(made->type);
        delete made;
      }
    }
    if (type) env->DeleteLocalRef(type);
    return ok;
  }

 private:
  struct Kept {
    jclass type;
    Ids ids;
  };
  std::array<FieldSpec, N> specs_;
  std::atomic<Kept*> kept_{nullptr};
};

// ---- exceptions ----------------------------------------------------------------------------
void throwNew(JNIEnv* env, Cached which, const char* message);
inline void throwNullPointer(JNIEnv* env, const char* message = "") { throwNew(env, Cached::NullPointer, message); }
inline void throwOutOfMemory(JNIEnv* env) { throwNew(env, Cached::OutOfMemory, ""); }
// The system's text of `code` (UTF-16, without its line end), or "no error message".
void throwWithSystemMessage(JNIEnv* env, Cached which, DWORD code);
inline void throwIOException(JNIEnv* env, DWORD code) { throwWithSystemMessage(env, Cached::IOException, code); }
inline void throwException(JNIEnv* env, DWORD code) { throwWithSystemMessage(env, Cached::Exception, code); }
// com.ombrel.util.exceptions.ErrorCodeException(message, code), bound by BackupApi.init.
void throwErrorCodeException(JNIEnv* env, DWORD code);
// Binds its class and constructor once; false with the lookup's exception pending.
bool ensureErrorCodeException(JNIEnv* env);

// ---- strings ---------------------------------------------------------------------------------
// Long-path prefix: "\\?\" before a path, "\\?\UNC\" in place of the first
// backslash of a UNC path; a path that has the prefix stays as it is. True when
// the path was changed.
bool addLongPathPrefix(WString& path);
constexpr size_t kLongPath = 260;

// How a native reports a failed system call, and so a name it refuses: the
// thrower of its exception with the system's text of a code, or kQuietly where
// it only returns its failure value.
using Refusal = void (*)(JNIEnv*, DWORD);
constexpr Refusal kQuietly = nullptr;
// A NullPointerException without a message, as the natives that once took their
// names and texts as byte strings throw it.
constexpr const char* kWithoutMessage = nullptr;

// A Java string as zero-terminated UTF-16. A null string throws NullPointerException
// with its null message (null: no message); a copy that cannot be made
// OutOfMemoryError. The kinds below say what the string is to the system.
class JavaWide {
 public:
  bool ok() const { return ok_; }
  const WCHAR* get() const { return ok_ ? copy_.get() : nullptr; }
  WString& text() { return copy_.text(); }
  size_t length() const { return copy_.length(); }

 protected:
  JavaWide(JNIEnv* env, jstring text, StringKind kind, Refusal refuse, bool pathRule, const char* nullMessage);

 private:
  JavaString copy_;
  bool ok_ = false;
};
// Text: every character is kept.
struct WideText : JavaWide {
  explicit WideText(JNIEnv* env, jstring text, const char* nullMessage = "")
      : JavaWide(env, text, StringKind::kText, kQuietly, false, nullMessage) {}
};
// A name: one holding a zero character is refused as the system refuses an
// invalid name, through `refuse` with ERROR_INVALID_NAME.
struct WideName : JavaWide {
  WideName(JNIEnv* env, jstring text, Refusal refuse, const char* nullMessage = "")
      : JavaWide(env, text, StringKind::kName, refuse, false, nullMessage) {}
};
// A path: a name that gets the long-path prefix at 260 characters or more.
struct WidePath : JavaWide {
  WidePath(JNIEnv* env, jstring text, Refusal refuse) : JavaWide(env, text, StringKind::kName, refuse, true, "") {}
};

// A name in the system's ANSI code page, for the calls that take only ANSI text.
// A null string throws NullPointerException without a message; a copy that cannot
// be made OutOfMemoryError. A name holding a zero character, or one the code page
// has no exact form of (it would reach the system as a look-alike or with "?"),
// is refused through `refuse`, as the system refuses an invalid name.
class AnsiName {
 public:
  AnsiName(JNIEnv* env, jstring text, Refusal refuse);
  bool ok() const { return ok_; }
  const char* get() const { return ok_ ? text_.c_str() : nullptr; }
  // In bytes, without the terminator.
  size_t length() const { return text_.size(); }

 private:
  std::string text_;
  bool ok_ = false;
};

}  // namespace rasbridge
