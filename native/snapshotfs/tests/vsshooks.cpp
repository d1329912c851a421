// JNI access for the Java tests to the shadow-copy stand-in's test hooks and to
// SysFreeString, which the agent reaches through a library of its own.
#define OM_WIN32_VSS
#include <jni.h>

#include <string>

#include "com_ombrel_snapshotfs_VssStandIn.h"
#include "platform/vssapi/standin.h"
#include "platform/win32.h"

extern "C" {

JNIEXPORT jlong JNICALL Java_com_ombrel_snapshotfs_VssStandIn_liveObjects(JNIEnv*, jclass) {
  return OmVssStandInLiveObjects();
}

JNIEXPORT jlong JNICALL Java_com_ombrel_snapshotfs_VssStandIn_liveBstrs(JNIEnv*, jclass) {
  return OmVssStandInLiveBstrs();
}

JNIEXPORT jstring JNICALL Java_com_ombrel_snapshotfs_VssStandIn_callLog(JNIEnv* env, jclass) {
  std::string log(static_cast<size_t>(OmVssStandInCallLog(nullptr, 0)), '\0');
  OmVssStandInCallLog(&log[0], static_cast<int>(log.size()));
  return env->NewStringUTF(log.c_str());
}

JNIEXPORT void JNICALL Java_com_ombrel_snapshotfs_VssStandIn_clearLog(JNIEnv*, jclass) { OmVssStandInClearLog(); }

JNIEXPORT void JNICALL Java_com_ombrel_snapshotfs_VssStandIn_freeBstr(JNIEnv*, jclass, jlong text) {
  SysFreeString(reinterpret_cast<BSTR>(static_cast<intptr_t>(text)));
}

}  // extern "C"
