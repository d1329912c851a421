// What the system bridge's in-process JNI tests share.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "platform/jni/testing/fake_jni.h"

#include "com_ombrel_agentframework_os_dialup_DialupJNI.h"

namespace bridgetest {

// One environment for the whole program: the library keeps the classes it looked
// up for the life of the process, as it does on a JVM.
inline omtest::FakeJni& shared() {
  static auto* jni = new omtest::FakeJni;
  return *jni;
}

// DialupJNI.init, then the names RasEnumEntries gives; none when it gives no
// array or leaves an exception.
inline std::optional<std::vector<std::string>> phoneBook(omtest::FakeJni& jni) {
  JNIEnv* env = jni.env();
  Java_com_ombrel_agentframework_os_dialup_DialupJNI_init(env, nullptr);
  if (jni.exceptionPending()) return std::nullopt;
  jobjectArray entries = Java_com_ombrel_agentframework_os_dialup_DialupJNI_RasEnumEntries(env, nullptr);
  if (!entries) return std::nullopt;
  std::vector<std::string> names;
  for (jobject entry : jni.objectsOf(entries)) names.push_back(jni.textOf(static_cast<jstring>(entry)));
  return names;
}

}  // namespace bridgetest
