// com.ombrel.agentframework.os.dialup.DialupJNI and com.ombrel.system.Internet:
// phone-book entries, connections, dialling and hang-up through RASAPI32 (bound at
// process attach), and the system's proxy settings through wininet (bound on
// first use). Failures are sentinel results; nothing here throws.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

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

// Copies a Java string, had in the system's ANSI code page (the calls are the
// ANSI ones), into a fixed field with its terminator; false when it was refused
// or does not fit whole (cut, it would be another name or password).
bool copyField(const AnsiName& bytes, char* field, size_t size) {
  if (!bytes.ok() || bytes.length() >= size) return false;
  std::memcpy(field, bytes.get(), bytes.length() + 1);
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

// The option's value; empty when the query fails.
std::vector<char> queryBuffer(DWORD option) {
  QueryOptionFn query = queryOption();
  if (!query) return {};
  DWORD size = 0;
  query(nullptr, option, nullptr, &size);
  if (size == 0) return {};
  std::vector<char> buffer;
  try {
    buffer.resize(static_cast<size_t>(size) + 1);  // one spare zero byte: a string value always ends
  } catch (const std::bad_alloc&) {
    return {};
  }
  if (!query(nullptr, option, buffer.data(), &size)) return {};
  return buffer;
}

jstring proxyPart(JNIEnv* env, bool bypass) {
  std::vector<char> buffer = queryBuffer(kOptionProxy);
  if (buffer.size() < sizeof(ProxyInfo)) return nullptr;
  ProxyInfo info;
  std::memcpy(&info, buffer.data(), sizeof info);
  const char* text = bypass ? info.bypass : info.proxy;
  return info.accessType != kDirectAccess && text ? newStringAnsi(env, text) : nullptr;
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
  std::vector<rasapi::EntryNameA> entries;
  try {
    entries.resize(kEntryCapacity);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  entries[0].dwSize = sizeof(rasapi::EntryNameA);
  DWORD bytes = kEntryCapacity * sizeof(rasapi::EntryNameA);
  DWORD count = 0;
  jobjectArray result = nullptr;
  if (entry<EnumEntriesFn>(ras.enumEntries)(nullptr, nullptr, entries.data(), &bytes, &count) == 0 &&
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
  // Whole elements, at least one, whatever size the first answer gave.
  std::vector<rasapi::ConnA> connections;
  try {
    connections.resize((bytes + sizeof(rasapi::ConnA) - 1) / sizeof(rasapi::ConnA));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  connections[0].dwSize = sizeof(rasapi::ConnA);
  bytes = static_cast<DWORD>(connections.size() * sizeof(rasapi::ConnA));
  count = 0;
  jobjectArray result = nullptr;
  if (enumConnections(connections.data(), &bytes, &count) == 0 && count > 0 && count <= connections.size()) {
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
  return result;
}

JNIEXPORT jlong JNICALL Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasDial(JNIEnv* env, jclass,
                                                                                  jstring entryName, jstring user,
                                                                                  jstring password) {
  if (!ras.usable || !ras.dial) return kNotUsable;
  rasapi::DialParamsA params{};
  params.dwSize = sizeof params;
  // Each is refused as a name is (a zero character, a character without an
  // exact form in the code page) and when it is longer than its field: the dial
  // would be made with another entry, user or password.
  if (!copyField(AnsiName(env, entryName, kQuietly), params.szEntryName, sizeof params.szEntryName) ||
      !copyField(AnsiName(env, user, kQuietly), params.szUserName, sizeof params.szUserName) ||
      !copyField(AnsiName(env, password, kQuietly), params.szPassword, sizeof params.szPassword))
    return kNotUsable;
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
  std::vector<char> buffer = queryBuffer(static_cast<DWORD>(option));
  return buffer.empty() ? nullptr : newStringAnsi(env, buffer.data());
}

}  // extern "C"
