// The probe native with an int where the Java declaration has a long: the
// compiler must refuse it against the generated header.
#include "om_jni_probe_Probe.h"

extern "C" JNIEXPORT jint JNICALL Java_om_jni_probe_Probe_close(JNIEnv*, jclass, jint handle) {
  return handle == 0 ? 0 : 1;
}
