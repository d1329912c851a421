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

static void JNICALL unexpected(void) {
  record("unexpected JNI call");
  ExitProcess(3);
}

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
static void JNICALL CallStaticVoidMethod(JNIEnv* env, jclass cls, jmethodID id, ...) {
  va_list args;
  va_start(args, id);
  if (strcmp(methodName(id), "addShutdownNotificationHook") == 0) {
    jlong handle = va_arg(args, jlong);
    record("CallStaticVoidMethod %s %s", methodName(id), handle ? "handle" : "zero");
  } else {
    record("CallStaticVoidMethod %s", methodName(id));
  }
  va_end(args);
}
static jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass cls, jobject init) {
  record("NewObjectArray %d", (int)length);
  return (jobjectArray)OBJECT;
}
static jbyteArray JNICALL NewByteArray(JNIEnv* env, jsize length) { return (jbyteArray)OBJECT; }
static void JNICALL SetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize length, const jbyte* bytes) {
  record("argument %.*s", (int)length, (const char*)bytes);
}
static jobject JNICALL NewObject(JNIEnv* env, jclass cls, jmethodID id, ...) { return OBJECT; }
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
  for (size_t i = 4; i < sizeof functions / sizeof(void*); ++i) slots[i] = (void*)unexpected;
  functions.FindClass = FindClass;
  functions.NewGlobalRef = NewGlobalRef;
  functions.DeleteGlobalRef = DeleteGlobalRef;
  functions.DeleteLocalRef = DeleteLocalRef;
  functions.GetStaticMethodID = GetStaticMethodID;
  functions.GetMethodID = GetMethodID;
  functions.CallStaticVoidMethod = CallStaticVoidMethod;
  functions.NewObjectArray = NewObjectArray;
  functions.NewByteArray = NewByteArray;
  functions.SetByteArrayRegion = SetByteArrayRegion;
  functions.NewObject = NewObject;
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
