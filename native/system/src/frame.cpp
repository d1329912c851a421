// The frame of the system bridge: class cache, exceptions, string copies and the
// long-path prefix.
#include <atomic>
#include <cstdlib>
#include <cstring>

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

constexpr char kNoMessage[] = "no error message";
constexpr size_t kNoMessageBlock = 255;

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

void cutLineEnd(char* text) {
  size_t length = std::strlen(text);
  if (length >= 3 && text[length - 2] == '\r') text[length - 2] = 0;
}

char* formatSystemMessage(DWORD code) {
  char* text = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                    FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                reinterpret_cast<LPSTR>(&text), 0, nullptr);
  if (length == 0 || !text) {
    if (text) LocalFree(text);
    text = static_cast<char*>(LocalAlloc(LMEM_FIXED, kNoMessageBlock));
    if (!text) return nullptr;
    std::memcpy(text, kNoMessage, sizeof kNoMessage);
    return text;
  }
  cutLineEnd(text);
  return text;
}

void throwNew(JNIEnv* env, jclass type, const char* message) {
  if (type) env->ThrowNew(type, message);
}

void throwNew(JNIEnv* env, Cached which, const char* message) { throwNew(env, cachedClass(env, which), message); }

void throwWithSystemMessage(JNIEnv* env, jclass type, DWORD code) {
  if (!type) return;
  char* text = formatSystemMessage(code);
  env->ThrowNew(type, text ? text : kNoMessage);
  if (text) LocalFree(text);
}

void throwWithSystemMessage(JNIEnv* env, Cached which, DWORD code) {
  throwWithSystemMessage(env, cachedClass(env, which), code);
}

void bindErrorCodeException(jclass type, jmethodID constructor) {
  errorCodeConstructor.store(constructor);
  errorCodeClass.store(type);
}

void throwErrorCodeException(JNIEnv* env, DWORD code) {
  jclass type = errorCodeClass.load();
  jmethodID constructor = errorCodeConstructor.load();
  if (!type || !constructor) {
    // Not bound yet: bind now, so the failure is not lost (a failed lookup leaves its exception).
    type = keepClass(env, "com/ombrel/util/exceptions/ErrorCodeException");
    if (!type) return;
    constructor = env->GetMethodID(type, "<init>", "(Ljava/lang/String;I)V");
    if (!constructor) return;
    bindErrorCodeException(type, constructor);
  }
  char* text = formatSystemMessage(code);
  jstring message = env->NewStringUTF(text ? text : kNoMessage);
  if (text) LocalFree(text);
  if (!message) return;
  auto exception = static_cast<jthrowable>(env->NewObject(type, constructor, message, static_cast<jint>(code)));
  env->DeleteLocalRef(message);
  if (!exception) return;
  env->Throw(exception);
  env->DeleteLocalRef(exception);
}

WCHAR* addLongPathPrefix(WCHAR* path, size_t length, bool& allocated) {
  allocated = false;
  if (length >= 4 && path[0] == u'\\' && path[1] == u'\\' && path[2] == u'?' && path[3] == u'\\') return path;
  WCHAR* result;
  if (length >= 2 && path[0] == u'\\' && path[1] == u'\\') {
    result = static_cast<WCHAR*>(std::malloc(2 * length + 20));
    if (!result) return nullptr;
    static const WCHAR kUnc[] = {'\\', '\\', '?', '\\', 'U', 'N', 'C'};  // then the path from its second backslash
    std::memcpy(result, kUnc, 7 * sizeof(WCHAR));
    std::memcpy(result + 7, path + 1, (length - 1) * sizeof(WCHAR));
    result[7 + length - 1] = 0;
  } else {
    result = static_cast<WCHAR*>(std::malloc(2 * length + 16));
    if (!result) return nullptr;
    static const WCHAR kPrefix[] = {'\\', '\\', '?', '\\'};
    std::memcpy(result, kPrefix, 4 * sizeof(WCHAR));
    std::memcpy(result + 4, path, length * sizeof(WCHAR));
    result[4 + length] = 0;
  }
  allocated = true;
  return result;
}

JavaWide::JavaWide(JNIEnv* env, jstring text, bool pathRule) {
  if (!text) {
    throwNullPointer(env);
    return;
  }
  jsize n = env->GetStringLength(text);
  const jchar* chars = env->GetStringChars(text, nullptr);
  if (!chars) return;
  auto* copy = static_cast<WCHAR*>(std::malloc(2 * static_cast<size_t>(n) + 4));
  if (copy) {
    std::memcpy(copy, chars, static_cast<size_t>(n) * sizeof(WCHAR));
    copy[n] = 0;
    copy[n + 1] = 0;
  }
  env->ReleaseStringChars(text, chars);
  if (!copy) {
    throwOutOfMemory(env);
    return;
  }
  length_ = static_cast<size_t>(n);
  chars_ = copy;
  if (pathRule && length_ >= kLongPath) {
    bool allocated = false;
    WCHAR* prefixed = addLongPathPrefix(chars_, length_, allocated);
    if (!prefixed) {
      std::free(chars_);
      chars_ = nullptr;
      throwOutOfMemory(env);
      return;
    }
    if (allocated) {
      std::free(chars_);
      chars_ = prefixed;
      length_ = 0;
      while (chars_[length_]) ++length_;
    }
  }
}

JavaWide::~JavaWide() { std::free(chars_); }

JavaUtf::JavaUtf(JNIEnv* env, jstring text) {
  if (!text) {
    throwNullPointer(env, nullptr);
    return;
  }
  jsize n = env->GetStringUTFLength(text);
  const char* chars = env->GetStringUTFChars(text, nullptr);
  if (!chars) return;
  auto* copy = static_cast<char*>(std::malloc(static_cast<size_t>(n) + 1));
  if (copy) {
    std::memcpy(copy, chars, static_cast<size_t>(n));
    copy[n] = 0;
  }
  env->ReleaseStringUTFChars(text, chars);
  if (!copy) {
    throwOutOfMemory(env);
    return;
  }
  chars_ = copy;
}

JavaUtf::~JavaUtf() { std::free(chars_); }

}  // namespace rasbridge
