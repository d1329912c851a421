// com.ombrel.agentframework.os.dialup.DialupJNI and com.ombrel.system.Internet:
// phone-book entries, connections, dialling and hang-up through RASAPI32 (bound at
// process attach), and the system's proxy settings through wininet (bound on
// first use). Failures are sentinel results; nothing here throws.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "bridge.h"
#include "com_ombrel_agentframework_os_dialup_DialupJNI.h"
#include "com_ombrel_system_Internet.h"
#include "platform/rasapi/ras_layout.h"

using namespace rasbridge;

namespace {

using EnumEntriesFn = DWORD(WINAPI*)(LPCSTR, LPCSTR, rasapi::EntryNameA*, LPDWORD, LPDWORD);
using EnumConnectionsFn = DWORD(WINAPI*)(rasapi::ConnA*, LPDWORD, LPDWORD);
using DialFn = DWORD(WINAPI*)(void*, LPCSTR, rasapi::DialParamsA*, DWORD, void*, HANDLE*);
using GetConnectStatusFn = DWORD(WINAPI*)(HANDLE, rasapi::ConnStatusA*);
using HangUpFn = DWORD(WINAPI*)(HANDLE);

constexpr DWORD kEntryCapacity = 20;
constexpr jlong kNotUsable = -1;
constexpr jint kStatusFailed = 601;

template <class Fn>
Fn entry(FARPROC proc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

struct RasEntryClass {
  std::atomic<jclass> type{nullptr};
  std::atomic<jfieldID> name{nullptr};
  std::atomic<jfieldID> handle{nullptr};
};
RasEntryClass rasEntry;

// Copies a Java string into a fixed field in the system's ANSI code page (the
// calls are the ANSI ones), cut to leave room for the terminator.
bool copyField(JNIEnv* env, jstring text, char* field, size_t size) {
  JavaAnsi bytes(env, text);
  if (!bytes.ok()) return false;
  std::strncpy(field, bytes.get(), size - 1);
  field[size - 1] = 0;
  return true;
}

// Overwrites a password copy so it does not linger on the stack.
void wipe(char* data, size_t size) {
  volatile char* p = data;
  for (size_t i = 0; i < size; ++i) p[i] = 0;
}

// ---- wininet ----------------------------------------------------------------------------
using QueryOptionFn = BOOL(WINAPI*)(void*, DWORD, void*, LPDWORD);
constexpr DWORD kOptionProxy = 38;  // INTERNET_OPTION_PROXY
constexpr DWORD kDirectAccess = 1;  // INTERNET_OPEN_TYPE_DIRECT

struct ProxyInfo {  // INTERNET_PROXY_INFO
  DWORD accessType;
  const char* proxy;
  const char* bypass;
};

QueryOptionFn queryOption() {
  static std::once_flag once;
  static QueryOptionFn bound = nullptr;
  std::call_once(once, [] {
    HMODULE wininet = LoadLibraryA("wininet");
    if (!wininet) {
      std::fputs("inet lib load failed\n", stderr);
      return;
    }
    bound = entry<QueryOptionFn>(GetProcAddress(wininet, "InternetQueryOptionA"));
  });
  return bound;
}

// The option's value in a new buffer (free with std::free); null when the query fails.
char* queryBuffer(DWORD option) {
  QueryOptionFn query = queryOption();
  if (!query) return nullptr;
  DWORD size = 0;
  query(nullptr, option, nullptr, &size);
  if (size == 0) return nullptr;
  // One spare zero byte so a string value is always terminated.
  auto* buffer = static_cast<char*>(std::calloc(1, size + 1));
  if (!buffer) return nullptr;
  if (!query(nullptr, option, buffer, &size)) {
    std::free(buffer);
    return nullptr;
  }
  return buffer;
}

jstring proxyPart(JNIEnv* env, bool bypass) {
  char* buffer = queryBuffer(kOptionProxy);
  if (!buffer) return nullptr;
  ProxyInfo info;
  std::memcpy(&info, buffer, sizeof info);
  jstring result = nullptr;
  const char* text = bypass ? info.bypass : info.proxy;
  if (info.accessType != kDirectAccess && text) result = newStringAnsi(env, text);
  std::free(buffer);
  return result;
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_ombrel_agentframework_os_dialup_DialupJNI_init(JNIEnv* env, jclass) {
  if (!ensureClassCache(env)) return;
  if (!rasEntry.type.load()) {
    jclass type = keepClass(env, "com/ombrel/agentframework/os/dialup/WinRasEntry");
    if (!type) return;
    rasEntry.type.store(type);
  }
  jclass type = rasEntry.type.load();
  jfieldID name = env->GetFieldID(type, "name", "Ljava/lang/String;");
  if (!name) return;
  rasEntry.name.store(name);
  jfieldID handle = env->GetFieldID(type, "handle", "J");
  if (!handle) return;
  rasEntry.handle.store(handle);
}

JNIEXPORT jobjectArray JNICALL Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasEnumEntries(JNIEnv* env,
                                                                                                 jclass) {
  if (!ras.usable || !ras.enumEntries) return nullptr;
  auto* entries = static_cast<rasapi::EntryNameA*>(std::calloc(kEntryCapacity, sizeof(rasapi::EntryNameA)));
  if (!entries) return nullptr;
  entries[0].dwSize = sizeof(rasapi::EntryNameA);
  DWORD bytes = kEntryCapacity * sizeof(rasapi::EntryNameA);
  DWORD count = 0;
  jobjectArray result = nullptr;
  if (entry<EnumEntriesFn>(ras.enumEntries)(nullptr, nullptr, entries, &bytes, &count) == 0 &&
      count <= kEntryCapacity) {
    jclass stringClass = cachedClass(env, Cached::String);
    result = stringClass ? env->NewObjectArray(static_cast<jsize>(count), stringClass, nullptr) : nullptr;
    for (DWORD i = 0; result && i < count; ++i) {
      jstring name = newStringAnsi(env, entries[i].szEntryName);
      if (!name) {
        result = nullptr;
        break;
      }
      env->SetObjectArrayElement(result, static_cast<jsize>(i), name);
      env->DeleteLocalRef(name);
    }
  }
  std::free(entries);
  return result;
}

JNIEXPORT jobjectArray JNICALL Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasEnumConnections(JNIEnv* env,
                                                                                                     jclass) {
  if (!ras.usable || !ras.enumConnections) return nullptr;
  jclass type = rasEntry.type.load();
  jfieldID nameField = rasEntry.name.load(), handleField = rasEntry.handle.load();
  if (!type || !nameField || !handleField) return nullptr;
  auto enumConnections = entry<EnumConnectionsFn>(ras.enumConnections);
  rasapi::ConnA probe{};
  probe.dwSize = sizeof probe;
  DWORD bytes = 0, count = 0;
  enumConnections(&probe, &bytes, &count);
  if (bytes == 0) return nullptr;
  // Room for at least one whole element, whatever size the first answer gave.
  DWORD capacity = bytes < sizeof(rasapi::ConnA) ? sizeof(rasapi::ConnA) : bytes;
  auto* connections = static_cast<rasapi::ConnA*>(std::calloc(1, capacity));
  if (!connections) return nullptr;
  connections[0].dwSize = sizeof(rasapi::ConnA);
  bytes = capacity;
  count = 0;
  jobjectArray result = nullptr;
  if (enumConnections(connections, &bytes, &count) == 0 && count > 0 &&
      count <= capacity / sizeof(rasapi::ConnA)) {
    for (DWORD i = 0; i < count; ++i) {
      jstring name = newStringAnsi(env, connections[i].szEntryName);
      jobject object = name ? env->AllocObject(type) : nullptr;
      if (object) {
        env->SetObjectField(object, nameField, name);
        env->SetLongField(object, handleField, static_cast<jlong>(connections[i].hrasconn));
        if (i == 0) result = env->NewObjectArray(static_cast<jsize>(count), type, object);
        else env->SetObjectArrayElement(result, static_cast<jsize>(i), object);
      }
      if (name) env->DeleteLocalRef(name);
      if (!object || !result) {
        result = nullptr;
        break;
      }
      if (i > 0) env->DeleteLocalRef(object);
    }
  }
  std::free(connections);
  return result;
}

JNIEXPORT jlong JNICALL Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasDial(JNIEnv* env, jclass,
                                                                                  jstring entryName, jstring user,
                                                                                  jstring password) {
  if (!ras.usable || !ras.dial) return kNotUsable;
  rasapi::DialParamsA params{};
  params.dwSize = sizeof params;
  if (!copyField(env, entryName, params.szEntryName, sizeof params.szEntryName)) return kNotUsable;
  if (!copyField(env, user, params.szUserName, sizeof params.szUserName)) return kNotUsable;
  bool copied = copyField(env, password, params.szPassword, sizeof params.szPassword);
  if (!copied) return kNotUsable;
  HANDLE connection = nullptr;
  DWORD error = entry<DialFn>(ras.dial)(nullptr, nullptr, &params, 0xFFFFFFFFu, reinterpret_cast<void*>(1),
                                       &connection);
  wipe(params.szPassword, sizeof params.szPassword);
  if (error != 0) {
    // A handle handed out before the failure is the caller's to hang up; Java never sees it.
    if (connection) entry<HangUpFn>(ras.hangUp)(connection);
    return 600 - static_cast<jlong>(error);
  }
  return toJava(connection);
}

JNIEXPORT jint JNICALL Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasGetConnectStatus(JNIEnv*, jclass,
                                                                                             jlong connection) {
  if (!ras.usable || !ras.getConnectStatus) return kStatusFailed;
  rasapi::ConnStatusA status{};
  status.dwSize = sizeof status;
  if (entry<GetConnectStatusFn>(ras.getConnectStatus)(fromJava<HANDLE>(connection), &status) != 0) return kStatusFailed;
  return static_cast<jint>(status.rasconnstate);
}

JNIEXPORT jint JNICALL Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasHangUp(JNIEnv*, jclass,
                                                                                   jlong connection) {
  if (!ras.usable) return -1;
  return static_cast<jint>(entry<HangUpFn>(ras.hangUp)(fromJava<HANDLE>(connection)));
}

JNIEXPORT jstring JNICALL Java_com_ombrel_system_Internet_queryProxyServers(JNIEnv* env, jclass) {
  return proxyPart(env, false);
}

JNIEXPORT jstring JNICALL Java_com_ombrel_system_Internet_queryProxyBypass(JNIEnv* env, jclass) {
  return proxyPart(env, true);
}

JNIEXPORT jstring JNICALL Java_com_ombrel_system_Internet_queryStringValue(JNIEnv* env, jclass, jint option) {
  char* buffer = queryBuffer(static_cast<DWORD>(option));
  if (!buffer) return nullptr;
  jstring result = newStringAnsi(env, buffer);
  std::free(buffer);
  return result;
}

}  // extern "C"
