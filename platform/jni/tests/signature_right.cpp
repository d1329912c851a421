// The probe native as its Java declaration has it.
#include "om_jni_probe_Probe.h"

extern "C" JNIEXPORT jint JNICALL Java_om_jni_probe_Probe_close(JNIEnv*, jclass, jlong handle) {
  return handle == 0 ? 0 : 1;
}
