// What every native of omnative-win32-x64 shares on top of the JNI glue: the
// status codes of local failures and GUIDs as their bytes. Natives return a
// status (0 success) and never throw; out-arrays and buffers are checked first.
#pragma once
#include <jni.h>

#include <cstdint>

#include "platform/jni/jni_glue.h"
#include "platform/win32.h"

namespace omnative {

using namespace om::jni;

// Status codes of local failures.
constexpr jint kInvalidParameter = 87;       // ERROR_INVALID_PARAMETER
constexpr jint kInsufficientBuffer = 122;    // ERROR_INSUFFICIENT_BUFFER
constexpr jint kOutOfMemory = 14;            // ERROR_OUTOFMEMORY
constexpr jint kComOutOfMemory = static_cast<jint>(0x8007000Eu);  // E_OUTOFMEMORY

inline jint lastError() { return static_cast<jint>(GetLastError()); }

// Why a Java string could not be passed on: 14 when it cannot be had, 123
// (ERROR_INVALID_NAME) for a name holding a zero character; as an HRESULT of the
// Win32 facility for the Volume Shadow Copy natives (0x8007000E, 0x8007007B).
inline jint status(const JavaString& text) { return static_cast<jint>(text.error()); }
inline jint comStatus(const JavaString& text) { return static_cast<jint>(HRESULT_FROM_WIN32(text.error())); }

// A GUID as its 16 bytes in memory order: the first field 4 bytes and the next
// two 2 bytes each, little-endian, then the last 8 bytes.
inline void guidBytes(const GUID& guid, jbyte out[16]) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<jbyte>(guid.Data1 >> (8 * i));
  for (int i = 0; i < 2; ++i) out[4 + i] = static_cast<jbyte>(guid.Data2 >> (8 * i));
  for (int i = 0; i < 2; ++i) out[6 + i] = static_cast<jbyte>(guid.Data3 >> (8 * i));
  for (int i = 0; i < 8; ++i) out[8 + i] = static_cast<jbyte>(guid.Data4[i]);
}

}  // namespace omnative
