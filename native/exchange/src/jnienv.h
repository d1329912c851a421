// The JNI functions the natives of omexchange-win32-x64 use, one small
// forwarding function each, and the object handle as a Java long.
#pragma once
#include <jni.h>

#include <cstdint>

namespace omexchange {

inline jsize arrayLength(JNIEnv* env, jarray array) { return env->GetArrayLength(array); }
inline jsize stringLength(JNIEnv* env, jstring text) { return env->GetStringLength(text); }
inline const jchar* getStringChars(JNIEnv* env, jstring text) { return env->GetStringChars(text, nullptr); }
inline void releaseStringChars(JNIEnv* env, jstring text, const jchar* chars) {
  env->ReleaseStringChars(text, chars);
}
inline void setIntRegion(JNIEnv* env, jintArray array, jsize start, jsize length, const jint* values) {
  env->SetIntArrayRegion(array, start, length, values);
}
inline void setLongRegion(JNIEnv* env, jlongArray array, jsize start, jsize length, const jlong* values) {
  env->SetLongArrayRegion(array, start, length, values);
}
inline void setBooleanRegion(JNIEnv* env, jbooleanArray array, jsize start, jsize length, const jboolean* values) {
  env->SetBooleanArrayRegion(array, start, length, values);
}
inline jboolean exceptionCheck(JNIEnv* env) { return env->ExceptionCheck(); }
inline void exceptionClear(JNIEnv* env) { env->ExceptionClear(); }

template <typename T>
T* fromHandle(jlong value) {
  return reinterpret_cast<T*>(static_cast<intptr_t>(value));
}
inline jlong toHandle(const void* pointer) { return static_cast<jlong>(reinterpret_cast<intptr_t>(pointer)); }

// Element 0 of an out-array. A missing or empty array takes nothing: the
// natives never leave an exception behind.
inline bool hasElement(JNIEnv* env, jarray array) { return array && arrayLength(env, array) > 0; }
inline void putInt(JNIEnv* env, jintArray array, jint value) {
  if (hasElement(env, array)) setIntRegion(env, array, 0, 1, &value);
}
inline void putLong(JNIEnv* env, jlongArray array, jlong value) {
  if (hasElement(env, array)) setLongRegion(env, array, 0, 1, &value);
}
inline void putBoolean(JNIEnv* env, jbooleanArray array, bool value) {
  jboolean element = value ? JNI_TRUE : JNI_FALSE;
  if (hasElement(env, array)) setBooleanRegion(env, array, 0, 1, &element);
}

}  // namespace omexchange
