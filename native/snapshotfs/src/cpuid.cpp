// com.ombrel.host.win32.Win32CpuId: the CPUID instruction.
#include <cpuid.h>

#include "com_ombrel_host_win32_Win32CpuId.h"
#include "natives.h"

using namespace omnative;

extern "C" {

JNIEXPORT jint JNICALL Java_com_ombrel_host_win32_Win32CpuId_cpuid(JNIEnv* env, jclass, jintArray registers,
                                                                  jint leaf) {
  if (!registers) return kOutOfMemory;
  if (env->GetArrayLength(registers) < 4) return kInvalidParameter;  // four registers are stored
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid_count(static_cast<unsigned int>(leaf), 0, eax, ebx, ecx, edx);
  PinnedArray out(env, registers, PinnedArray::kCopyBack);
  if (!out.ok()) return kOutOfMemory;
  out.ints()[0] = static_cast<jint>(eax);
  out.ints()[1] = static_cast<jint>(ebx);
  out.ints()[2] = static_cast<jint>(ecx);
  out.ints()[3] = static_cast<jint>(edx);
  return 0;
}

}  // extern "C"
