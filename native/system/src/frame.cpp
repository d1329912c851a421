// The frame of the system bridge: class cache, exceptions, string copies and the
// long-path prefix.
#include <atomic>
#include <cstring>
#include <new>

#include "bridge.h"

namespace rasbridge {

namespace {

const char* const kCachedNames[] = {"java/lang/NullPointerException", "java/lang/Exception", "java/io/IOException",
                                    "java/lang/String", "java/lang/OutOfMemoryError", "java/lang/Integer",
                                    "java/lang/Boolean", "java/lang/Object"};
static_assert(sizeof kCachedNames / sizeof kCachedNames[0] == static_cast<size_t>(Cached::Count), "class cache");

// Filled without a lock: two threads may both fill a slot; either reference stays valid.
std::atomic<jclass> classCache[static_cast<size_t>(Cached::Count)];

std::atomic<jclass> errorCodeClass{nullptr};
std::atomic<jmethodID> errorCodeConstructor{nullptr};

}  // namespace

bool isNtPlatform = true;
HINSTANCE libraryInstance = nullptr;
RasBinding ras;

bool queryNtPlatform() {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;  // 148
  return GetVersionExA(&info) && info.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS;
}

jclass keepClass(JNIEnv* env, const char* name) {
  jclass local = env->FindClass(name);
  if (!local) return nullptr;
  auto global = static_cast<jclass>(env->NewGlobalRef(local));
  env->DeleteLocalRef(local);
  return global;
}

bool ensureClassCache(JNIEnv* env) {
  for (size_t i = 0; i < static_cast<size_t>(Cached::Count); ++i) {
    if (classCache[i].load()) continue;
    jclass type = keepClass(env, kCachedNames[i]);
    if (!type) return false;
    classCache[i].store(type);
  }
  return true;
}

jclass cachedClass(JNIEnv* env, Cached which) {
  jclass type = classCache[static_cast<size_t>(which)].load();
  if (type) return type;
  ensureClassCache(env);
  return classCache[static_cast<size_t>(which)].load();
}

void throwNew(JNIEnv* env, Cached which, const char* message) { om::jni::throwNew(env, cachedClass(env, which), message); }

void throwWithSystemMessage(JNIEnv* env, Cached which, DWORD code) {
  om::jni::throwWithSystemMessage(env, cachedClass(env, which), code);
}

bool ensureErrorCodeException(JNIEnv* env) {
  if (errorCodeClass.load() && errorCodeConstructor.load()) return true;
  jclass type = keepClass(env, "com/ombrel/util/exceptions/ErrorCodeException");
  if (!type) return false;
  jmethodID constructor = env->GetMethodID(type, "<init>", "(Ljava/lang/String;I)V");
  if (!constructor) {
    env->DeleteGlobalRef(type);
    return false;
  }
  errorCodeConstructor.store(constructor);
  errorCodeClass.store(type);
  return true;
}

void throwErrorCodeException(JNIEnv* env, DWORD code) {
  // Bound now when BackupApi.init has not run, so the failure is not lost (a failed lookup leaves its exception).
  if (!ensureErrorCodeException(env)) return;
  throwWithCode(env, errorCodeClass.load(), errorCodeConstructor.load(), code);
}

bool addLongPathPrefix(WString& path) {
  static const WString kPrefix = {'\\', '\\', '?', '\\'};
  static const WString kUnc = {'\\', '\\', '?', '\\', 'U', 'N', 'C'};  // then the path from its second backslash
  if (path.compare(0, kPrefix.size(), kPrefix) == 0) return false;
  if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\')
    path.replace(0, 1, kUnc);
  else
    path.insert(0, kPrefix);
  return true;
}

JavaWide::JavaWide(JNIEnv* env, jstring text, StringKind kind, Refusal refuse, bool pathRule,
                   const char* nullMessage)
    : copy_(env, text, kind) {
  if (!text) {
    throwNullPointer(env, nullMessage);
    return;
  }
  if (copy_.error() == ERROR_INVALID_NAME) {
    if (refuse) refuse(env, ERROR_INVALID_NAME);
    return;
  }
  if (!copy_.ok()) {
    throwOutOfMemory(env);
    return;
  }
  if (pathRule && copy_.length() >= kLongPath) {
    try {
      addLongPathPrefix(copy_.text());
    } catch (const std::bad_alloc&) {
      throwOutOfMemory(env);
      return;
    }
  }
  ok_ = true;
}

AnsiName::AnsiName(JNIEnv* env, jstring text, Refusal refuse) {
  WideName wide(env, text, refuse, kWithoutMessage);
  if (!wide.ok()) return;
  DWORD converted = toCodePage(wide.get(), wide.length(), CP_ACP, text_);
  if (converted == ERROR_OUTOFMEMORY) {
    throwOutOfMemory(env);
    return;
  }
  if (converted != ERROR_SUCCESS) {
    if (refuse) refuse(env, converted);
    return;
  }
  ok_ = true;
}

}  // namespace rasbridge
