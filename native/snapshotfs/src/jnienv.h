// What every native of omnative-win32-x64 shares: the JNI functions it uses
// (one small forwarding function each), handles as Java longs, status codes,
// out-array and buffer checks, and scoped access to Java strings and arrays.
#pragma once
#include <jni.h>

#include <cstdint>
#include <vector>

#include "platform/win32.h"

namespace omnative {

// Status codes of local failures.
constexpr jint kInvalidParameter = 87;       // ERROR_INVALID_PARAMETER
constexpr jint kInsufficientBuffer = 122;    // ERROR_INSUFFICIENT_BUFFER
constexpr jint kOutOfMemory = 14;            // ERROR_OUTOFMEMORY
constexpr jint kComOutOfMemory = static_cast<jint>(0x8007000Eu);  // E_OUTOFMEMORY

// ---- JNI forwarding ---------------------------------------------------------------
inline jsize arrayLength(JNIEnv* env, jarray array) { return env->GetArrayLength(array); }
inline void* getCritical(JNIEnv* env, jarray array) { return env->GetPrimitiveArrayCritical(array, nullptr); }
inline void releaseCritical(JNIEnv* env, jarray array, void* data, jint mode) {
  env->ReleasePrimitiveArrayCritical(array, data, mode);
}
inline jsize stringLength(JNIEnv* env, jstring text) { return env->GetStringLength(text); }
inline void stringRegion(JNIEnv* env, jstring text, jsize start, jsize length, jchar* out) {
  env->GetStringRegion(text, start, length, out);
}
inline const char* getStringUtf(JNIEnv* env, jstring text) { return env->GetStringUTFChars(text, nullptr); }
inline void releaseStringUtf(JNIEnv* env, jstring text, const char* chars) { env->ReleaseStringUTFChars(text, chars); }
inline void setLongRegion(JNIEnv* env, jlongArray array, jsize start, jsize length, const jlong* values) {
  env->SetLongArrayRegion(array, start, length, values);
}
inline void getLongRegion(JNIEnv* env, jlongArray array, jsize start, jsize length, jlong* values) {
  env->GetLongArrayRegion(array, start, length, values);
}
inline void setIntRegion(JNIEnv* env, jintArray array, jsize start, jsize length, const jint* values) {
  env->SetIntArrayRegion(array, start, length, values);
}
inline void setByteRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length, const jbyte* values) {
  env->SetByteArrayRegion(array, start, length, values);
}
inline void getByteRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length, jbyte* values) {
  env->GetByteArrayRegion(array, start, length, values);
}
inline void setBooleanRegion(JNIEnv* env, jbooleanArray array, jsize start, jsize length, const jboolean* values) {
  env->SetBooleanArrayRegion(array, start, length, values);
}
inline void setCharRegion(JNIEnv* env, jcharArray array, jsize start, jsize length, const jchar* values) {
  env->SetCharArrayRegion(array, start, length, values);
}
inline jobject newGlobalRef(JNIEnv* env, jobject object) { return env->NewGlobalRef(object); }
inline void deleteGlobalRef(JNIEnv* env, jobject object) { env->DeleteGlobalRef(object); }
inline void deleteLocalRef(JNIEnv* env, jobject object) { env->DeleteLocalRef(object); }
inline jmethodID getMethodId(JNIEnv* env, jclass type, const char* name, const char* signature) {
  return env->GetMethodID(type, name, signature);
}
inline jint callIntMethod(JNIEnv* env, jobject object, jmethodID method, jobject argument) {
  return env->CallIntMethod(object, method, argument);
}
inline jobject newDirectByteBuffer(JNIEnv* env, void* address, jlong capacity) {
  return env->NewDirectByteBuffer(address, capacity);
}
inline jboolean exceptionCheck(JNIEnv* env) { return env->ExceptionCheck(); }
inline void exceptionClear(JNIEnv* env) { env->ExceptionClear(); }

// ---- handles and out-arrays ---------------------------------------------------------
inline HANDLE toHandle(jlong value) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value)); }
inline void* toPointer(jlong value) { return reinterpret_cast<void*>(static_cast<intptr_t>(value)); }
inline jlong fromPointer(const void* pointer) { return static_cast<jlong>(reinterpret_cast<intptr_t>(pointer)); }

// True for a one-element out-array.
inline bool isOutArray(JNIEnv* env, jarray array) { return array && arrayLength(env, array) == 1; }
inline void putLong(JNIEnv* env, jlongArray array, jlong value) { setLongRegion(env, array, 0, 1, &value); }
inline void putInt(JNIEnv* env, jintArray array, jint value) { setIntRegion(env, array, 0, 1, &value); }
inline jlong takeLong(JNIEnv* env, jlongArray array) {
  jlong value = 0;
  getLongRegion(env, array, 0, 1, &value);
  return value;
}

// True when [offset, offset + length) lies inside the array.
inline bool isRange(JNIEnv* env, jbyteArray array, jint offset, jint length) {
  if (!array || offset < 0 || length < 0) return false;
  return static_cast<int64_t>(offset) + length <= arrayLength(env, array);
}
inline bool isAtLeast(JNIEnv* env, jbyteArray array, jsize size) { return array && arrayLength(env, array) >= size; }

// A Java string as UTF-16 with a terminating zero; null stays null.
class WideString {
 public:
  WideString(JNIEnv* env, jstring text) : null_(text == nullptr) {
    if (null_) return;
    jsize length = stringLength(env, text);
    try {
      chars_.resize(static_cast<size_t>(length) + 1, 0);
    } catch (...) {
      failed_ = true;
      return;
    }
    stringRegion(env, text, 0, length, reinterpret_cast<jchar*>(chars_.data()));
    if (exceptionCheck(env)) {
      exceptionClear(env);
      failed_ = true;
    }
  }
  bool ok() const { return !failed_; }
  const WCHAR* get() const { return null_ ? nullptr : chars_.data(); }

 private:
  std::vector<WCHAR> chars_;
  bool null_;
  bool failed_ = false;
};

// A Java string's modified UTF-8 bytes, released when the object ends; null stays null.
class Utf8String {
 public:
  Utf8String(JNIEnv* env, jstring text) : env_(env), text_(text) {
    if (!text) return;
    chars_ = getStringUtf(env, text);
    if (!chars_) {
      if (exceptionCheck(env)) exceptionClear(env);
      failed_ = true;
    }
  }
  ~Utf8String() {
    if (chars_) releaseStringUtf(env_, text_, chars_);
  }
  Utf8String(const Utf8String&) = delete;
  Utf8String& operator=(const Utf8String&) = delete;
  bool ok() const { return !failed_; }
  const char* get() const { return chars_; }

 private:
  JNIEnv* env_;
  jstring text_;
  const char* chars_ = nullptr;
  bool failed_ = false;
};

// A primitive array pinned for the length of one system call. Buffers the call
// fills are released with copy-back, buffers it only reads without.
class Pinned {
 public:
  enum Mode { kCopyBack = 0, kNoCopyBack = JNI_ABORT };
  Pinned(JNIEnv* env, jarray array, Mode mode) : env_(env), array_(array), mode_(mode) {
    if (array) data_ = getCritical(env, array);
  }
  ~Pinned() {
    if (data_) releaseCritical(env_, array_, data_, mode_);
  }
  Pinned(const Pinned&) = delete;
  Pinned& operator=(const Pinned&) = delete;
  bool ok() const { return data_ != nullptr; }
  BYTE* bytes() const { return static_cast<BYTE*>(data_); }
  jint* ints() const { return static_cast<jint*>(data_); }

 private:
  JNIEnv* env_;
  jarray array_;
  Mode mode_;
  void* data_ = nullptr;
};

// A GUID as its 16 bytes in memory order: the first field 4 bytes and the next
// two 2 bytes each, little-endian, then the last 8 bytes.
inline void guidBytes(const GUID& guid, jbyte out[16]) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<jbyte>(guid.Data1 >> (8 * i));
  for (int i = 0; i < 2; ++i) out[4 + i] = static_cast<jbyte>(guid.Data2 >> (8 * i));
  for (int i = 0; i < 2; ++i) out[6 + i] = static_cast<jbyte>(guid.Data3 >> (8 * i));
  for (int i = 0; i < 8; ++i) out[8 + i] = static_cast<jbyte>(guid.Data4[i]);
}

}  // namespace omnative
