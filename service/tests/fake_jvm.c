/* A jvm.dll for tests under Wine, which has no Java runtime. It exports the two
 * invocation functions the service host looks up, implements the few JNI
 * functions the host calls, appends every call to jvm-calls.log beside itself,
 * and its main class's static main returns at once. */
#define _JNI_IMPLEMENTATION_
#include <jni.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

static char logPath[MAX_PATH];
static struct JNINativeInterface_ functions;
static struct JNIInvokeInterface_ invokeFunctions;
static JNIEnv environment = &functions;
static JavaVM machine = &invokeFunctions;
static int exceptionPending;
static void* registeredNative;

/* Distinct non-null values for the references the host holds. */
#define MAIN_CLASS ((jclass)0x1001)
#define STRING_CLASS ((jclass)0x1002)
#define OBJECT ((jobject)0x1003)
#define GLOBAL_REF ((jobject)0x1004)
static char methodNames[16][64];
static int methodCount;

static void record(const char* format, ...) {
  FILE* file = fopen(logPath, "a");
  if (!file) return;
  va_list args;
  va_start(args, format);
  vfprintf(file, format, args);
  va_end(args);
  fputc('\n', file);
  fclose(file);
}

/* Every slot the host is not expected to call holds a stub of its own, so the
 * recording names the slot that was called. */
static void unexpectedSlot(int slot) {
  record("unexpected JNI call, slot %d", slot);
  ExitProcess(3);
}
#define STUB(n) static void JNICALL unexpected##n(void) { unexpectedSlot(n); }
#define STUBS10(d) STUB(d##0) STUB(d##1) STUB(d##2) STUB(d##3) STUB(d##4) \
  STUB(d##5) STUB(d##6) STUB(d##7) STUB(d##8) STUB(d##9)
STUBS10() STUBS10(1) STUBS10(2) STUBS10(3) STUBS10(4) STUBS10(5) STUBS10(6) STUBS10(7)
STUBS10(8) STUBS10(9) STUBS10(10) STUBS10(11) STUBS10(12) STUBS10(13) STUBS10(14) STUBS10(15)
STUBS10(16) STUBS10(17) STUBS10(18) STUBS10(19) STUBS10(20) STUBS10(21) STUBS10(22) STUBS10(23)
#define REF(n) unexpected##n,
#define REFS10(d) REF(d##0) REF(d##1) REF(d##2) REF(d##3) REF(d##4) \
  REF(d##5) REF(d##6) REF(d##7) REF(d##8) REF(d##9)
static void (JNICALL* const unexpectedStubs[])(void) = {
  REFS10() REFS10(1) REFS10(2) REFS10(3) REFS10(4) REFS10(5) REFS10(6) REFS10(7)
  REFS10(8) REFS10(9) REFS10(10) REFS10(11) REFS10(12) REFS10(13) REFS10(14) REFS10(15)
  REFS10(16) REFS10(17) REFS10(18) REFS10(19) REFS10(20) REFS10(21) REFS10(22) REFS10(23)
};
_Static_assert(sizeof unexpectedStubs / sizeof unexpectedStubs[0] >= sizeof(struct JNINativeInterface_) / sizeof(void*),
               "a stub for every slot of the function table");

static jclass JNICALL FindClass(JNIEnv* env, const char* name) {
  record("FindClass %s", name);
  return strcmp(name, "java/lang/String") == 0 ? STRING_CLASS : MAIN_CLASS;
}
static jobject JNICALL NewGlobalRef(JNIEnv* env, jobject ref) {
  record("NewGlobalRef");
  return GLOBAL_REF;
}
static void JNICALL DeleteGlobalRef(JNIEnv* env, jobject ref) { record("DeleteGlobalRef"); }
static void JNICALL DeleteLocalRef(JNIEnv* env, jobject ref) {}
static jmethodID remember(const char* kind, const char* name, const char* sig) {
  record("%s %s %s", kind, name, sig);
  if (methodCount >= 16) return NULL;
  strncpy(methodNames[methodCount], name, 63);
  return (jmethodID)(INT_PTR)(++methodCount);
}
static jmethodID JNICALL GetStaticMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
  return remember("GetStaticMethodID", name, sig);
}
static jmethodID JNICALL GetMethodID(JNIEnv* env, jclass cls, const char* name, const char* sig) {
  return remember("GetMethodID", name, sig);
}
static const char* methodName(jmethodID id) {
  INT_PTR index = (INT_PTR)id;
  return index > 0 && index <= methodCount ? methodNames[index - 1] : "?";
}
/* C++ callers reach the variadic calls through the va_list slots (the JNIEnv
 * wrappers forward to them), C callers through the variadic ones; both record
 * the same line. */
static int takesHandle(jmethodID id) { return strcmp(methodName(id), "addShutdownNotificationHook") == 0; }
static void recordStaticCall(jmethodID id, jlong handle) {
  if (takesHandle(id))
    record("CallStaticVoidMethod %s %s", methodName(id), handle ? "handle" : "zero");
  else
    record("CallStaticVoidMethod %s", methodName(id));
}
static void JNICALL CallStaticVoidMethodV(JNIEnv* env, jclass cls, jmethodID id, va_list args) {
  recordStaticCall(id, takesHandle(id) ? va_arg(args, jlong) : 0);
}
static void JNICALL CallStaticVoidMethod(JNIEnv* env, jclass cls, jmethodID id, ...) {
  va_list args;
  va_start(args, id);
  CallStaticVoidMethodV(env, cls, id, args);
  va_end(args);
}
static void JNICALL CallStaticVoidMethodA(JNIEnv* env, jclass cls, jmethodID id, const jvalue* args) {
  recordStaticCall(id, takesHandle(id) ? args[0].j : 0);
}
static jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass cls, jobject init) {
  record("NewObjectArray %d", (int)length);
  return (jobjectArray)OBJECT;
}
static jbyteArray JNICALL NewByteArray(JNIEnv* env, jsize length) { return (jbyteArray)OBJECT; }
static void JNICALL SetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length, const jbyte* bytes) {
  record("argument %.*s", (int)length, (const char*)bytes);
}
static jobject newObject(jmethodID id) {
  record("NewObject %s", methodName(id));
  return OBJECT;
}
static jobject JNICALL NewObjectV(JNIEnv* env, jclass cls, jmethodID id, va_list args) { return newObject(id); }
static jobject JNICALL NewObject(JNIEnv* env, jclass cls, jmethodID id, ...) {
  va_list args;
  va_start(args, id);
  jobject result = NewObjectV(env, cls, id, args);
  va_end(args);
  return result;
}
static jobject JNICALL NewObjectA(JNIEnv* env, jclass cls, jmethodID id, const jvalue* args) {
  return newObject(id);
}
static void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {}
static jboolean JNICALL ExceptionCheck(JNIEnv* env) { return exceptionPending ? JNI_TRUE : JNI_FALSE; }
static void JNICALL ExceptionDescribe(JNIEnv* env) { exceptionPending = 0; }
static void JNICALL ExceptionClear(JNIEnv* env) { exceptionPending = 0; }
static jint JNICALL RegisterNatives(JNIEnv* env, jclass cls, const JNINativeMethod* methods, jint count) {
  record("RegisterNatives %s %s", methods[0].name, methods[0].signature);
  registeredNative = methods[0].fnPtr;
  return 0;
}

static jint JNICALL GetEnv(JavaVM* vm, void** env, jint version) {
  *env = &environment;
  return JNI_OK;
}
static jint JNICALL DestroyJavaVM(JavaVM* vm) {
  record("DestroyJavaVM");
  return JNI_OK;
}

_JNI_IMPORT_OR_EXPORT_ jint JNICALL JNI_GetDefaultJavaVMInitArgs(void* args) { return JNI_OK; }

_JNI_IMPORT_OR_EXPORT_ jint JNICALL JNI_CreateJavaVM(JavaVM** vm, void** env, void* args) {
  JavaVMInitArgs* init = (JavaVMInitArgs*)args;
  void** slots = (void**)&functions;
  for (size_t i = 4; i < sizeof functions / sizeof(void*); ++i) slots[i] = (void*)unexpectedStubs[i];
  functions.FindClass = FindClass;
  functions.NewGlobalRef = NewGlobalRef;
  functions.DeleteGlobalRef = DeleteGlobalRef;
  functions.DeleteLocalRef = DeleteLocalRef;
  functions.GetStaticMethodID = GetStaticMethodID;
  functions.GetMethodID = GetMethodID;
  functions.CallStaticVoidMethod = CallStaticVoidMethod;
  functions.CallStaticVoidMethodV = CallStaticVoidMethodV;
  functions.CallStaticVoidMethodA = CallStaticVoidMethodA;
  functions.NewObjectArray = NewObjectArray;
  functions.NewByteArray = NewByteArray;
  functions.SetByteArrayRegion = SetByteArrayRegion;
  functions.NewObject = NewObject;
  functions.NewObjectV = NewObjectV;
  functions.NewObjectA = NewObjectA;
  functions.SetObjectArrayElement = SetObjectArrayElement;
  functions.ExceptionCheck = ExceptionCheck;
  functions.ExceptionDescribe = ExceptionDescribe;
  functions.ExceptionClear = ExceptionClear;
  functions.RegisterNatives = RegisterNatives;
  invokeFunctions.GetEnv = GetEnv;
  invokeFunctions.DestroyJavaVM = DestroyJavaVM;
  record("JNI_CreateJavaVM version 0x%x, %d options", (unsigned)init->version, (int)init->nOptions);
  for (jint i = 0; i < init->nOptions; ++i) record("option %s", init->options[i].optionString);
  *vm = &machine;
  *env = &environment;
  return JNI_OK;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    DWORD length = GetModuleFileNameA(instance, logPath, MAX_PATH);
    char* slash = strrchr(logPath, '\\');
    if (length && slash) strcpy(slash + 1, "jvm-calls.log");
  }
  return TRUE;
}
