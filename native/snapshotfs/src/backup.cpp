// com.ombrel.disk.win32.Win32Kernel: backup-semantics streams and raw reads of
// encrypted files.
#include <memory>
#include <new>

#include "com_ombrel_disk_win32_Win32Kernel.h"
#include "natives.h"

using namespace omnative;

namespace {

// Status that ends a raw read whose Java callback threw.
constexpr DWORD kCallbackFailed = ERROR_OPERATION_ABORTED;

struct EncryptedFileSupport {
  jclass type;  // global reference: the class the method was looked up in
  jmethodID method;
};

struct EncryptedFileContext {
  EncryptedFileSupport* support;
  JNIEnv* env;  // of the thread that is reading
  PVOID rawContext;
  jobject callback;
};

DWORD WINAPI exportBlock(PBYTE data, PVOID callbackContext, ULONG length) {
  auto* context = static_cast<EncryptedFileContext*>(callbackContext);
  JNIEnv* env = context->env;
  jobject buffer = env->NewDirectByteBuffer(data, static_cast<jlong>(length));
  if (!buffer) {
    clearPending(env);
    return ERROR_OUTOFMEMORY;
  }
  jint result = env->CallIntMethod(context->callback, context->support->method, buffer);
  // An exception ends the read; it is not passed on to the caller.
  if (clearPending(env)) result = static_cast<jint>(kCallbackFailed);
  env->DeleteLocalRef(buffer);
  return static_cast<DWORD>(result);
}

// BackupRead and BackupWrite share one signature and the same argument and
// out-array rules; only the direction of the copy differs.
using BackupTransfer = BOOL(WINAPI*)(HANDLE, LPBYTE, DWORD, LPDWORD, BOOL, BOOL, LPVOID*);

jint transfer(JNIEnv* env, BackupTransfer call, PinnedArray::Mode mode, jlong handle, jbyteArray data, jint offset,
              jint length, jintArray done, jboolean processSecurity, jlongArray context) {
  if (!isOutArray(env, done) || !isOutArray(env, context)) return kInvalidParameter;
  if (!inRange(env, data, offset, length)) return data ? kInvalidParameter : kOutOfMemory;
  LPVOID backup = fromJava<LPVOID>(takeLong(env, context));
  DWORD count = 0;
  jint status = 0;
  {
    PinnedArray buffer(env, data, mode);
    if (!buffer.ok()) return kOutOfMemory;
    if (!call(fromJava<HANDLE>(handle), buffer.bytes() + offset, static_cast<DWORD>(length), &count, FALSE,
              processSecurity ? TRUE : FALSE, &backup))
      status = lastError();
  }
  setOut(env, done, static_cast<jint>(count));
  setOut(env, context, toJava(backup));
  return status;
}

jint abortTransfer(JNIEnv* env, BackupTransfer call, jlong handle, jboolean processSecurity, jlongArray context) {
  if (!isOutArray(env, context)) return kInvalidParameter;
  LPVOID backup = fromJava<LPVOID>(takeLong(env, context));
  DWORD count = 0;
  if (!call(fromJava<HANDLE>(handle), nullptr, 0, &count, TRUE, processSecurity ? TRUE : FALSE, &backup))
    return lastError();
  setOut(env, context, jlong{0});  // the context is gone
  return 0;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_BackupRead(JNIEnv* env, jclass, jlong handle,
                                                                        jbyteArray data, jint offset, jint length,
                                                                        jintArray read, jboolean processSecurity,
                                                                        jlongArray context) {
  return transfer(env, BackupRead, PinnedArray::kCopyBack, handle, data, offset, length, read, processSecurity, context);
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_BackupReadAbort(JNIEnv* env, jclass, jlong handle,
                                                                             jboolean processSecurity,
                                                                             jlongArray context) {
  return abortTransfer(env, BackupRead, handle, processSecurity, context);
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_BackupSeek(JNIEnv* env, jclass, jlong handle,
                                                                        jlong distance, jlongArray seeked,
                                                                        jlongArray context) {
  if (!isOutArray(env, seeked) || !isOutArray(env, context)) return kInvalidParameter;
  LPVOID backup = fromJava<LPVOID>(takeLong(env, context));
  uint64_t wanted = static_cast<uint64_t>(distance);
  DWORD low = 0, high = 0;
  jint status = BackupSeek(fromJava<HANDLE>(handle), static_cast<DWORD>(wanted), static_cast<DWORD>(wanted >> 32), &low,
                           &high, &backup)
                    ? 0
                    : lastError();
  setOut(env, seeked, static_cast<jlong>((static_cast<uint64_t>(high) << 32) | low));
  setOut(env, context, toJava(backup));
  return status;
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_BackupWrite(JNIEnv* env, jclass, jlong handle,
                                                                         jbyteArray data, jint offset, jint length,
                                                                         jintArray written, jboolean processSecurity,
                                                                         jlongArray context) {
  return transfer(env, BackupWrite, PinnedArray::kNoCopyBack, handle, data, offset, length, written, processSecurity,
                  context);
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_BackupWriteAbort(JNIEnv* env, jclass, jlong handle,
                                                                              jboolean processSecurity,
                                                                              jlongArray context) {
  return abortTransfer(env, BackupWrite, handle, processSecurity, context);
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_InitializeEncryptedFileSupport(
    JNIEnv* env, jclass, jclass callbackClass, jstring methodName, jstring methodSignature, jlongArray support) {
  if (!isOutArray(env, support)) return kInvalidParameter;
  JavaUtf name(env, methodName);
  JavaUtf signature(env, methodSignature);
  if (!name.ok() || !signature.ok()) return kOutOfMemory;
  if (!callbackClass || !name.data() || !signature.data()) return kInvalidParameter;
  jmethodID method = env->GetMethodID(callbackClass, name.data(), signature.data());
  if (!method) {
    clearPending(env);  // NoSuchMethodError is reported as 87
    return kInvalidParameter;
  }
  auto type = static_cast<jclass>(env->NewGlobalRef(callbackClass));
  if (!type) {
    clearPending(env);
    return kOutOfMemory;
  }
  auto* created = new (std::nothrow) EncryptedFileSupport{type, method};
  if (!created) {
    env->DeleteGlobalRef(type);
    return kOutOfMemory;
  }
  setOut(env, support, toJava(created));
  return 0;
}

JNIEXPORT void JNICALL Java_com_ombrel_disk_win32_Win32Kernel_ShutdownEncryptedFileSupport(JNIEnv* env, jclass,
                                                                                          jlong support) {
  auto* created = fromJava<EncryptedFileSupport*>(support);
  if (!created) return;
  env->DeleteGlobalRef(created->type);
  delete created;
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_OpenEncryptedFileRaw(JNIEnv* env, jclass, jstring path,
                                                                                  jint flags, jlong support,
                                                                                  jobject callback,
                                                                                  jlongArray context) {
  if (!isOutArray(env, context)) return kInvalidParameter;
  auto* methods = fromJava<EncryptedFileSupport*>(support);
  if (!methods) return kInvalidParameter;
  // The blocks go to the support's method: the object must be of its class.
  if (callback && !env->IsInstanceOf(callback, methods->type)) return kInvalidParameter;
  JavaName name(env, path);
  if (!name.ok()) return status(name);
  jobject reference = env->NewGlobalRef(callback);
  if (!reference) {
    clearPending(env);
    return kOutOfMemory;
  }
  // The record first, so a failed allocation leaves nothing opened to close.
  std::unique_ptr<EncryptedFileContext> record(new (std::nothrow) EncryptedFileContext{methods, env, nullptr, reference});
  if (!record) {
    env->DeleteGlobalRef(reference);
    return kOutOfMemory;
  }
  DWORD status = OpenEncryptedFileRawW(name.get(), static_cast<ULONG>(flags), &record->rawContext);
  if (status != ERROR_SUCCESS) {
    env->DeleteGlobalRef(reference);
    return static_cast<jint>(status);
  }
  setOut(env, context, toJava(record.release()));
  return 0;
}

JNIEXPORT jint JNICALL Java_com_ombrel_disk_win32_Win32Kernel_ReadEncryptedFileRaw(JNIEnv* env, jclass,
                                                                                  jlong context) {
  auto* record = fromJava<EncryptedFileContext*>(context);
  if (!record) return kInvalidParameter;
  record->env = env;  // the callback runs on this thread
  return static_cast<jint>(ReadEncryptedFileRaw(&exportBlock, record, record->rawContext));
}

JNIEXPORT void JNICALL Java_com_ombrel_disk_win32_Win32Kernel_CloseEncryptedFileRaw(JNIEnv* env, jclass,
                                                                                   jlong context) {
  auto* record = fromJava<EncryptedFileContext*>(context);
  if (!record) return;
  CloseEncryptedFileRaw(record->rawContext);
  env->DeleteGlobalRef(record->callback);
  delete record;
}

}  // extern "C"
