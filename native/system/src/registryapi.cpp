// com.ombrel.agentframework.os.win32.RegistryApi: registry keys and values, hive
// files, and copies of values and key security between keys. Registry failures
// throw java.lang.Exception with the system text of the code the call returned.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "bridge.h"
#include "com_ombrel_agentframework_os_win32_RegistryApi.h"

using namespace rasbridge;

namespace {

constexpr DWORD kNameLength = 16383;  // the longest key and value name
constexpr size_t kMultiStringScanLimit = 65000;
constexpr SECURITY_INFORMATION kAllSecurity =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | SACL_SECURITY_INFORMATION;

struct RegistryBinding {
  jclass keyClass;
  jfieldID keyDisposition, keyPtr;
  jmethodID keyConstructor;
  jclass valueClass;
  jfieldID name, type, dwordVal, stringArray, stringValue, byteArray;
};
RegistryBinding binding;
std::atomic<bool> bound{false};

HKEY toKey(jlong value) { return fromJava<HKEY>(value); }

// A key, value or hive file name: one holding a zero character is refused with
// the exception of a failed registry call.
struct RegistryName : WideName {
  RegistryName(JNIEnv* env, jstring text) : WideName(env, text, throwException) {}
};

// Throws for a failed registry call; true when `rc` is a failure.
bool failed(JNIEnv* env, LONG rc) {
  if (rc == ERROR_SUCCESS) return false;
  throwException(env, static_cast<DWORD>(rc));
  return true;
}

// Binds the Java classes when init has not run; false with an exception pending.
bool ensureBinding(JNIEnv* env);

// Zeroed buffer of `size` data bytes and two more zero bytes (a string stored
// without its terminating zero still ends inside), rounded up to whole characters.
struct ValueBuffer {
  explicit ValueBuffer(DWORD size) : bytes(static_cast<size_t>(size) + 4, 0), size(size) {}
  BYTE* data() { return bytes.data(); }
  const WCHAR* chars() const { return reinterpret_cast<const WCHAR*>(bytes.data()); }
  // Characters of the data, counting a trailing odd byte as one.
  size_t charCount() const { return (static_cast<size_t>(size) + 1) / 2; }
  std::vector<BYTE> bytes;
  DWORD size;
};

// The strings of a multi-string; null with an exception pending on failure.
jobjectArray multiStringToArray(JNIEnv* env, const ValueBuffer& buffer) {
  jclass stringClass = cachedClass(env, Cached::String);
  if (!stringClass) return nullptr;
  if (buffer.size == 0) return env->NewObjectArray(0, stringClass, nullptr);
  const WCHAR* chars = buffer.chars();
  size_t available = buffer.charCount() + 1;  // the buffer's own zero follows the data
  auto at = [&](size_t i) -> WCHAR { return i < available ? chars[i] : 0; };
  size_t count = 0, end = 0;
  bool found = false;
  for (size_t i = 0; i < kMultiStringScanLimit; ++i) {
    if (at(i) != 0) continue;
    ++count;
    if (at(i + 1) == 0) {
      found = true;
      end = i;
      break;
    }
  }
  if (!found) {
    throwNew(env, Cached::Exception, "illegal cstring size returned");
    return nullptr;
  }
  jobjectArray array = env->NewObjectArray(static_cast<jsize>(count), stringClass, nullptr);
  if (!array) return nullptr;
  size_t position = 0;
  for (size_t index = 0; index < count && position <= end; ++index) {
    if (at(position) == 0 && at(position + 1) == 0) break;
    size_t length = 0;
    while (at(position + length) != 0) ++length;
    jstring text = newString(env, chars + position, length);
    if (!text) return nullptr;
    env->SetObjectArrayElement(array, static_cast<jsize>(index), text);
    env->DeleteLocalRef(text);
    if (env->ExceptionCheck()) return nullptr;
    position += length + 1;
  }
  return array;
}

// Fills `out` from a value's type, name and data; false with an exception pending.
bool fillRegValue(JNIEnv* env, jobject out, DWORD type, jstring name, const ValueBuffer& buffer) {
  env->SetIntField(out, binding.type, static_cast<jint>(type));
  env->SetObjectField(out, binding.name, name);
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      size_t length = 0;
      while (length < buffer.charCount() && buffer.chars()[length] != 0) ++length;
      jstring text = newString(env, buffer.chars(), length);
      if (!text) return false;
      env->SetObjectField(out, binding.stringValue, text);
      env->DeleteLocalRef(text);
      return true;
    }
    case REG_BINARY: {
      jbyteArray bytes = env->NewByteArray(static_cast<jsize>(buffer.size));
      if (!bytes) return false;
      env->SetByteArrayRegion(bytes, 0, static_cast<jsize>(buffer.size), reinterpret_cast<const jbyte*>(buffer.bytes.data()));
      env->SetObjectField(out, binding.byteArray, bytes);
      env->DeleteLocalRef(bytes);
      return true;
    }
    case REG_MULTI_SZ: {
      jobjectArray strings = multiStringToArray(env, buffer);
      if (!strings) return false;
      env->SetObjectField(out, binding.stringArray, strings);
      env->DeleteLocalRef(strings);
      return true;
    }
    case REG_DWORD: {
      DWORD value = 0;  // shorter data reads as its bytes with zeros above
      std::memcpy(&value, buffer.bytes.data(), buffer.size < 4 ? buffer.size : 4);
      env->SetIntField(out, binding.dwordVal, static_cast<jint>(value));
      return true;
    }
    default:
      env->SetIntField(out, binding.dwordVal, buffer.bytes[0]);
      return true;
  }
}

// A Java string array as a multi-string; empty with an exception pending on failure.
bool arrayToMultiString(JNIEnv* env, jobjectArray array, std::vector<WCHAR>& out) {
  jsize count = env->GetArrayLength(array);
  size_t total = 0;
  for (jsize i = 0; i < count; ++i) {
    auto text = static_cast<jstring>(env->GetObjectArrayElement(array, i));
    if (text) total += static_cast<size_t>(env->GetStringLength(text));
    env->DeleteLocalRef(text);
  }
  size_t size = total + static_cast<size_t>(count) + 1;
  try {
    out.assign(size, 0);
  } catch (...) {
    throwOutOfMemory(env);
    return false;
  }
  size_t at = 0;
  for (jsize i = 0; i < count; ++i) {
    auto text = static_cast<jstring>(env->GetObjectArrayElement(array, i));
    jsize length = text ? env->GetStringLength(text) : 0;
    if (at + static_cast<size_t>(length) + 1 > size - 1) {
      env->DeleteLocalRef(text);
      throwNew(env, Cached::Exception, "memory error in streams creation");
      return false;
    }
    if (text) env->GetStringRegion(text, 0, length, reinterpret_cast<jchar*>(out.data() + at));
    env->DeleteLocalRef(text);
    at += static_cast<size_t>(length);
    out[at++] = 0;
  }
  out[at] = 0;
  return true;
}

bool bind(JNIEnv* env) {
  RegistryBinding b{};
  b.keyClass = keepClass(env, "com/ombrel/agentframework/os/win32/RegKey");
  if (!b.keyClass) return false;
  if (!(b.keyDisposition = env->GetFieldID(b.keyClass, "disposition", "I"))) return false;
  if (!(b.keyPtr = env->GetFieldID(b.keyClass, "ptr", "J"))) return false;
  if (!(b.keyConstructor = env->GetMethodID(b.keyClass, "<init>", "(JI)V"))) return false;
  b.valueClass = keepClass(env, "com/ombrel/agentframework/os/win32/RegValue");
  if (!b.valueClass) return false;
  if (!(b.name = env->GetFieldID(b.valueClass, "name", "Ljava/lang/String;"))) return false;
  if (!(b.type = env->GetFieldID(b.valueClass, "type", "I"))) return false;
  if (!(b.dwordVal = env->GetFieldID(b.valueClass, "dwordVal", "I"))) return false;
  if (!(b.stringArray = env->GetFieldID(b.valueClass, "stringArray", "[Ljava/lang/String;"))) return false;
  if (!(b.stringValue = env->GetFieldID(b.valueClass, "stringValue", "Ljava/lang/String;"))) return false;
  if (!(b.byteArray = env->GetFieldID(b.valueClass, "byteArray", "[B"))) return false;
  binding = b;
  bound.store(true);
  return true;
}

bool ensureBinding(JNIEnv* env) { return bound.load() || (ensureClassCache(env) && bind(env)); }

// Both queries of a value: type, size, then the data into a buffer two bytes larger.
bool queryValue(JNIEnv* env, HKEY key, const WCHAR* name, DWORD& type, std::unique_ptr<ValueBuffer>& buffer) {
  DWORD size = 0;
  LONG rc = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) return !failed(env, rc);
  try {
    buffer.reset(new ValueBuffer(size));
  } catch (...) {
    throwOutOfMemory(env);
    return false;
  }
  DWORD got = size;
  rc = RegQueryValueExW(key, name, nullptr, &type, buffer->data(), &got);
  if (failed(env, rc)) return false;
  buffer->size = got;
  return true;
}

// A call on a sub-key of a key (unload, delete); throws when it fails.
void onSubKey(JNIEnv* env, jlong key, jstring subKey, LONG(WINAPI* call)(HKEY, LPCWSTR)) {
  RegistryName name(env, subKey);
  if (name.ok()) failed(env, call(toKey(key), name.get()));
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_RegistryApi_init(JNIEnv* env, jclass) {
  ensureBinding(env);
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_RegistryApi_RegLoadKey(JNIEnv* env, jclass, jlong key,
                                                                                   jstring subKey, jstring file) {
  RegistryName name(env, subKey);
  if (!name.ok()) return;
  RegistryName path(env, file);
  if (!path.ok()) return;
  failed(env, RegLoadKeyW(toKey(key), name.get(), path.get()));
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_RegistryApi_RegUnLoadKey(JNIEnv* env, jclass,
                                                                                     jlong key, jstring subKey) {
  onSubKey(env, key, subKey, RegUnLoadKeyW);
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_RegistryApi_RegFlushKey(JNIEnv* env, jclass,
                                                                                    jlong key) {
  failed(env, RegFlushKey(toKey(key)));
}

JNIEXPORT jlong JNICALL Java_com_ombrel_agentframework_os_win32_RegistryApi_RegOpenKeyEx(
    JNIEnv* env, jclass, jlong key, jstring subKey, jint options, jint samDesired) {
  RegistryName name(env, subKey);
  if (!name.ok()) return 0;
  HKEY opened = nullptr;
  if (failed(env, RegOpenKeyExW(toKey(key), name.get(), static_cast<DWORD>(options), static_cast<REGSAM>(samDesired),
                                &opened)))
    return 0;
  return toJava(opened);
}

JNIEXPORT jobject JNICALL Java_com_ombrel_agentframework_os_win32_RegistryApi_RegCreateKeyEx(
    JNIEnv* env, jclass, jlong key, jstring subKey, jint options, jint samDesired) {
  if (!ensureBinding(env)) return nullptr;
  RegistryName name(env, subKey);
  if (!name.ok()) return nullptr;
  HKEY created = nullptr;
  DWORD disposition = 0;
  if (failed(env, RegCreateKeyExW(toKey(key), name.get(), 0, nullptr, static_cast<DWORD>(options),
                                  static_cast<REGSAM>(samDesired), nullptr, &created, &disposition)))
    return nullptr;
  return env->NewObject(binding.keyClass, binding.keyConstructor, toJava(created),
                        static_cast<jint>(disposition));
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_RegistryApi_RegCloseKey(JNIEnv* env, jclass,
                                                                                    jlong key) {
  failed(env, RegCloseKey(toKey(key)));
}

JNIEXPORT jboolean JNICALL Java_com_ombrel_agentframework_os_win32_RegistryApi_RegEnumValueW(JNIEnv* env, jclass,
                                                                                          jlong key, jint index,
                                                                                          jobject out) {
  if (!ensureBinding(env)) return JNI_FALSE;
  if (!out) {
    throwNullPointer(env);
    return JNI_FALSE;
  }
  std::vector<WCHAR> name(kNameLength + 1, 0);
  DWORD nameLength = kNameLength;
  DWORD type = 0, size = 0;
  LONG rc = RegEnumValueW(toKey(key), static_cast<DWORD>(index), name.data(), &nameLength, nullptr, &type, nullptr,
                          &size);
  if (rc == ERROR_NO_MORE_ITEMS) return JNI_FALSE;
  if (failed(env, rc)) return JNI_TRUE;
  jstring nameText = newString(env, name.data(), nameLength);
  if (!nameText) return JNI_TRUE;
  ValueBuffer buffer(size);
  nameLength = kNameLength;
  DWORD got = size;
  rc = RegEnumValueW(toKey(key), static_cast<DWORD>(index), name.data(), &nameLength, nullptr, &type, buffer.data(),
                     &got);
  if (!failed(env, rc)) {
    buffer.size = got;
    fillRegValue(env, out, type, nameText, buffer);
  }
  env->DeleteLocalRef(nameText);
  return JNI_TRUE;
}

JNIEXPORT jstring JNICALL Java_com_ombrel_agentframework_os_win32_RegistryApi_RegEnumKeyExW(JNIEnv* env, jclass,
                                                                                         jlong key, jint index) {
  std::vector<WCHAR> name(kNameLength + 1, 0);
  DWORD nameLength = kNameLength;
  DWORD classLength = 0;
  LONG rc = RegEnumKeyExW(toKey(key), static_cast<DWORD>(index), name.data(), &nameLength, nullptr, nullptr,
                          &classLength, nullptr);
  if (classLength != 0) std::fputs("class data provided\n", stderr);
  if (rc == ERROR_NO_MORE_ITEMS) return nullptr;
  if (failed(env, rc)) return nullptr;
  return newString(env, name.data(), nameLength);
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_RegistryApi_RegReplaceKey(
    JNIEnv* env, jclass, jlong key, jstring subKey, jstring newFile, jstring oldFile) {
  std::optional<RegistryName> name;
  if (subKey) {
    name.emplace(env, subKey);
    if (!name->ok()) return;
  }
  RegistryName newPath(env, newFile);
  if (!newPath.ok()) return;
  RegistryName oldPath(env, oldFile);
  if (!oldPath.ok()) return;
  failed(env, RegReplaceKeyW(toKey(key), name ? name->get() : nullptr, newPath.get(), oldPath.get()));
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_RegistryApi_RegSetValueExW(JNIEnv* env, jclass,
                                                                                       jlong key, jobject value) {
  if (!ensureBinding(env)) return;
  if (!value) {
    throwNullPointer(env);
    return;
  }
  DWORD type = static_cast<DWORD>(env->GetIntField(value, binding.type));
  auto nameText = static_cast<jstring>(env->GetObjectField(value, binding.name));
  RegistryName name(env, nameText);
  env->DeleteLocalRef(nameText);
  if (!name.ok()) return;
  std::vector<BYTE> data;
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      auto text = static_cast<jstring>(env->GetObjectField(value, binding.stringValue));
      if (!text) return;  // nothing to write
      jsize length = env->GetStringLength(text);
      data.assign(static_cast<size_t>(length) * 2 + 2, 0);
      env->GetStringRegion(text, 0, length, reinterpret_cast<jchar*>(data.data()));
      env->DeleteLocalRef(text);
      break;
    }
    case REG_BINARY: {
      auto bytes = static_cast<jbyteArray>(env->GetObjectField(value, binding.byteArray));
      if (!bytes) {
        throwNullPointer(env, "RegValue byte array is null");
        return;
      }
      data.resize(static_cast<size_t>(env->GetArrayLength(bytes)));
      env->GetByteArrayRegion(bytes, 0, static_cast<jsize>(data.size()), reinterpret_cast<jbyte*>(data.data()));
      env->DeleteLocalRef(bytes);
      break;
    }
    case REG_DWORD: {
      DWORD word = static_cast<DWORD>(env->GetIntField(value, binding.dwordVal));
      data.resize(4);
      std::memcpy(data.data(), &word, 4);
      break;
    }
    case REG_MULTI_SZ: {
      auto strings = static_cast<jobjectArray>(env->GetObjectField(value, binding.stringArray));
      if (!strings) {
        throwNullPointer(env, "RegValue string array is null");
        return;
      }
      std::vector<WCHAR> multi;
      bool ok = arrayToMultiString(env, strings, multi);
      env->DeleteLocalRef(strings);
      if (!ok) return;
      data.resize(multi.size() * 2);
      std::memcpy(data.data(), multi.data(), data.size());
      break;
    }
    default:
      throwNew(env, Cached::Exception, "Registry value type not supported");
      return;
  }
  failed(env, RegSetValueExW(toKey(key), name.get(), 0, type, data.data(), static_cast<DWORD>(data.size())));
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_RegistryApi_RegDeleteKey(JNIEnv* env, jclass,
                                                                                     jlong key, jstring subKey) {
  onSubKey(env, key, subKey, RegDeleteKeyW);
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_RegistryApi_RegGetValue(JNIEnv* env, jclass,
                                                                                    jlong key, jstring valueName,
                                                                                    jobject out) {
  if (!ensureBinding(env)) return;
  RegistryName name(env, valueName);
  if (!name.ok()) return;
  if (!out) {
    throwNullPointer(env);
    return;
  }
  DWORD type = 0;
  std::unique_ptr<ValueBuffer> buffer;
  if (!queryValue(env, toKey(key), name.get(), type, buffer)) return;
  fillRegValue(env, out, type, valueName, *buffer);
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_RegistryApi_RegCopyValue(JNIEnv* env, jclass,
                                                                                     jlong source, jstring valueName,
                                                                                     jlong target) {
  RegistryName name(env, valueName);
  if (!name.ok()) return;
  DWORD type = 0;
  std::unique_ptr<ValueBuffer> buffer;
  if (!queryValue(env, toKey(source), name.get(), type, buffer)) return;
  failed(env, RegSetValueExW(toKey(target), name.get(), 0, type, buffer->data(), buffer->size));
}

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_win32_RegistryApi_RegCopyKeySecurity(JNIEnv* env, jclass,
                                                                                           jlong source,
                                                                                           jlong target) {
  DWORD size = 0;
  LONG rc = RegGetKeySecurity(toKey(source), kAllSecurity, nullptr, &size);
  if (rc != ERROR_SUCCESS && rc != ERROR_INSUFFICIENT_BUFFER) {
    failed(env, rc);
    return;
  }
  std::vector<BYTE> descriptor;
  try {
    descriptor.resize(size ? size : 1);
  } catch (...) {
    throwOutOfMemory(env);
    return;
  }
  if (failed(env, RegGetKeySecurity(toKey(source), kAllSecurity, descriptor.data(), &size))) return;
  failed(env, RegSetKeySecurity(toKey(target), kAllSecurity, descriptor.data()));
}

}  // extern "C"
