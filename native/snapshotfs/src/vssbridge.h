// What the Volume Shadow Copy natives share: interface pointers as Java longs,
// GUIDs as byte[16], out-array checks and the getter patterns. Every out-array
// is checked before the call, so a wrong one (87) never leaves an exception
// pending or an obtained interface unreleased; every out-variable starts zeroed,
// so a failing call hands Java 0, never whatever the callee left behind.
#pragma once
#define OM_WIN32_VSS
#include <cstring>

#include "natives.h"

// The JNI name of a native of com.ombrel.vss.win32.<Class>.
#define VSS_NATIVE(Class, Method) Java_com_ombrel_vss_win32_##Class##_##Method

namespace omnative {

constexpr jint kComPointer = static_cast<jint>(0x80004003u);  // E_POINTER: a 0 interface pointer
constexpr jsize kGuidSize = 16;

template <class I>
I* as(jlong pointer) {
  return fromJava<I*>(pointer);
}

inline bool isGuidIn(JNIEnv* env, jbyteArray array) { return hasAtLeast(env, array, kGuidSize); }
inline bool isGuidOut(JNIEnv* env, jbyteArray array) { return isGuidIn(env, array); }

inline GUID takeGuid(JNIEnv* env, jbyteArray array) {
  jbyte bytes[kGuidSize];
  env->GetByteArrayRegion(array, 0, kGuidSize, bytes);
  GUID guid;
  guid.Data1 = 0;
  for (int i = 3; i >= 0; --i) guid.Data1 = (guid.Data1 << 8) | static_cast<uint8_t>(bytes[i]);
  guid.Data2 = static_cast<uint16_t>(static_cast<uint8_t>(bytes[4]) | (static_cast<uint8_t>(bytes[5]) << 8));
  guid.Data3 = static_cast<uint16_t>(static_cast<uint8_t>(bytes[6]) | (static_cast<uint8_t>(bytes[7]) << 8));
  for (int i = 0; i < 8; ++i) guid.Data4[i] = static_cast<uint8_t>(bytes[8 + i]);
  return guid;
}

inline void putGuid(JNIEnv* env, jbyteArray array, const GUID& guid) {
  jbyte bytes[kGuidSize];
  guidBytes(guid, bytes);
  env->SetByteArrayRegion(array, 0, kGuidSize, bytes);
}

// Only the low byte of a native boolean or BOOL is stored.
inline void putBoolean(JNIEnv* env, jbooleanArray array, int value) {
  setOut(env, array, static_cast<jboolean>(value & 0xFF));
}

inline bool allOut(JNIEnv*) { return true; }
template <class... Rest>
bool allOut(JNIEnv* env, jarray first, Rest... rest) {
  return isOutArray(env, first) && allOut(env, rest...);
}

// One call of a method with the native's arguments as its parameters; E_POINTER
// for a 0 interface pointer.
template <class I, class... Params, class... Args>
jint interfaceCall(jlong pointer, HRESULT (STDMETHODCALLTYPE I::*method)(Params...), Args... args) {
  I* object = as<I>(pointer);
  return object ? (object->*method)(static_cast<Params>(args)...) : kComPointer;
}

// ---- getter patterns: call with zeroed locals, copy them out, return the HRESULT ----

template <class I>
jint textGetter(JNIEnv* env, jlong pointer, jlongArray out, HRESULT (STDMETHODCALLTYPE I::*method)(BSTR*)) {
  if (!isOutArray(env, out)) return kInvalidParameter;
  I* object = as<I>(pointer);
  if (!object) return kComPointer;
  BSTR text = nullptr;
  HRESULT result = (object->*method)(&text);
  setOut(env, out, toJava(text));
  return result;
}

template <class I, class V>
jint intGetter(JNIEnv* env, jlong pointer, jintArray out, HRESULT (STDMETHODCALLTYPE I::*method)(V*)) {
  if (!isOutArray(env, out)) return kInvalidParameter;
  I* object = as<I>(pointer);
  if (!object) return kComPointer;
  V value{};
  HRESULT result = (object->*method)(&value);
  setOut(env, out, static_cast<jint>(value));
  return result;
}

template <class I, class V>
jint booleanGetter(JNIEnv* env, jlong pointer, jbooleanArray out, HRESULT (STDMETHODCALLTYPE I::*method)(V*)) {
  if (!isOutArray(env, out)) return kInvalidParameter;
  I* object = as<I>(pointer);
  if (!object) return kComPointer;
  V value{};
  HRESULT result = (object->*method)(&value);
  putBoolean(env, out, static_cast<int>(value));
  return result;
}

template <class I, class O>
jint objectGetter(JNIEnv* env, jlong pointer, jlongArray out, HRESULT (STDMETHODCALLTYPE I::*method)(O**)) {
  if (!isOutArray(env, out)) return kInvalidParameter;
  I* object = as<I>(pointer);
  if (!object) return kComPointer;
  O* obtained = nullptr;
  HRESULT result = (object->*method)(&obtained);
  setOut(env, out, toJava(obtained));
  return result;
}

template <class I, class O>
jint indexGetter(JNIEnv* env, jlong pointer, jint index, jlongArray out,
                 HRESULT (STDMETHODCALLTYPE I::*method)(UINT, O**)) {
  if (!isOutArray(env, out)) return kInvalidParameter;
  I* object = as<I>(pointer);
  if (!object) return kComPointer;
  O* obtained = nullptr;
  HRESULT result = (object->*method)(static_cast<UINT>(index), &obtained);
  setOut(env, out, toJava(obtained));
  return result;
}

// ---- natives that name a writer's component: the backup components, the writer
// id, the component's logical path (may be null) and name, checked and converted
// before `call` (IVssBackupComponents&, writer id, path, name) runs ----

template <class Call>
jint componentCall(JNIEnv* env, jlong components, jbyteArray writerId, jstring logicalPath, jstring componentName,
                   Call call) {
  auto* backup = as<IVssBackupComponents>(components);
  if (!backup) return kComPointer;
  if (!isGuidIn(env, writerId)) return kInvalidParameter;
  JavaName path(env, logicalPath);
  if (!path.ok()) return comStatus(path);
  JavaName name(env, componentName);
  if (!name.ok()) return comStatus(name);
  return call(*backup, takeGuid(env, writerId), path.get(), name.get());
}

// ---- natives that are one getter pattern: com.ombrel.vss.win32.<Class>.<Native> calling
// Interface::Method (the javac header still checks each signature). OBJECT serves the
// calls that start an IVssAsync. ----

#define VSS_GETTER(Class, Native, Getter, OutArray, Method)                                            \
  JNIEXPORT jint JNICALL VSS_NATIVE(Class, Native)(JNIEnv * env, jclass, jlong pointer, OutArray out) { \
    return Getter(env, pointer, out, &Method);                                                          \
  }
#define VSS_TEXT_GETTER(Class, Native, Method) VSS_GETTER(Class, Native, textGetter, jlongArray, Method)
#define VSS_INT_GETTER(Class, Native, Method) VSS_GETTER(Class, Native, intGetter, jintArray, Method)
#define VSS_BOOLEAN_GETTER(Class, Native, Method) VSS_GETTER(Class, Native, booleanGetter, jbooleanArray, Method)
#define VSS_OBJECT_GETTER(Class, Native, Method) VSS_GETTER(Class, Native, objectGetter, jlongArray, Method)
#define VSS_INDEX_GETTER(Class, Native, Method)                                                         \
  JNIEXPORT jint JNICALL VSS_NATIVE(Class, Native)(JNIEnv * env, jclass, jlong pointer, jint index, \
                                                   jlongArray out) {                                \
    return indexGetter(env, pointer, index, out, &Method);                                          \
  }

// Writer-components objects are released through an IUnknown one pointer after
// their start, not as an IUnknown themselves: the library remembers each one it
// hands out until Java releases it, so every release native serves them.
void rememberWriterComponents(IVssWriterComponentsExt* object);
// Releases a writer-components pointer handed out before; the new reference count.
jint releaseWriterComponents(IVssWriterComponentsExt* object);
// Release of any pointer this library hands out: writer components as above,
// everything else as the IUnknown it is; 0 without a call for 0.
jint releaseHandedOut(jlong pointer);

}  // namespace omnative
