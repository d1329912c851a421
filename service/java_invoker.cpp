#include "service/java_invoker.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "service/paths.h"

namespace {

void printLog(const char* text) { std::printf("%s\n", text); }

// The only listener Java may notify: the one registerShutdownHook handed out.
std::atomic<ShutdownNotificationListener*> registeredListener{nullptr};

// The invoker creating its virtual machine: the runtime's "abort" hook reports
// through it before the runtime ends the process.
std::atomic<JavaInvoker*> creatingInvoker{nullptr};

void JNICALL abortHook() {
  if (JavaInvoker* invoker = creatingInvoker.exchange(nullptr)) invoker->reportCreationAbort();
}

// The invoker whose virtual machine runs: the runtime's "exit" hook reports
// through it, on whichever thread ends the process.
std::atomic<JavaInvoker*> runningInvoker{nullptr};

void JNICALL exitHook(jint code) {
  if (JavaInvoker* invoker = runningInvoker.load()) invoker->reportExit(code);
  // The runtime's own clean-up is done when it calls here; end the process now,
  // so no other thread's exit (the dispatcher returning) runs alongside.
  endProcessNow(code);
}

}  // namespace

void endProcessNow(int code) {
  std::fflush(nullptr);
  std::_Exit(code);
}

extern "C" JNIEXPORT void JNICALL Java_com_ombrel_agentservice_Start_shutdownNotification(JNIEnv*, jclass,
                                                                                          jlong handle) {
  ShutdownNotificationListener* listener = registeredListener.load();
  if (handle == 0 || listener == nullptr) return;
  if (handle != static_cast<jlong>(reinterpret_cast<intptr_t>(listener))) return;  // not ours: ignore
  listener->onShutdownNotification();
}

JavaInvoker::JavaInvoker(const char* name) : mainClassName(name ? name : ""), errorLog(printLog), messageLog(printLog) {
  for (char& c : mainClassName)
    if (c == '.') c = '/';
}

JavaInvoker::~JavaInvoker() {
  if (vm) {
    JNIEnv* env = nullptr;
    if (mainClass && vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2) == JNI_OK)
      env->DeleteGlobalRef(mainClass);
    vm->DestroyJavaVM();
  }
  JavaInvoker* self = this;
  runningInvoker.compare_exchange_strong(self, nullptr);
}

void JavaInvoker::reportExit(int code) {
  if (onExit) onExit(code);
}

void JavaInvoker::reportCreationAbort() {
  errorLog("Could not create java VM");
  if (onCreationAbort) onCreationAbort();
}

void JavaInvoker::setErrorLog(LogFunction function) { errorLog = function ? function : printLog; }
void JavaInvoker::setMessageLog(LogFunction function) { messageLog = function ? function : printLog; }

std::string javaExtDirsOption(const std::string& home) {
  return "-Djava.ext.dirs=" + om::hostPathList(home + "\\lib;" + home + "\\lib\\ext");
}

bool JavaInvoker::launch(int argc, char** argv) {
  std::string classPathOption = "-Djava.class.path=" + om::hostPathList(classPath);
  std::string libraryPathOption = "-Djava.library.path=" + om::hostPathList(libraryPath);
  std::string heapOption = "-Xmx" + std::to_string(maxHeapMegabytes) + "m";

  std::vector<JavaVMOption> options(6);
  if (jvmDllPath.empty()) {
    if (jreHome.empty()) {
      errorLog("Could not find JRE home");
      return false;
    }
    jvmDllPath = jreHome + "\\bin\\" + vmType + "\\jvm.dll";
  }
  std::printf("VM DLL = %s\n", jvmDllPath.c_str());
  std::string home = jvmDllPath;
  std::string tail = "\\bin\\" + vmType + "\\jvm.dll";
  size_t at = home.find(tail);
  if (at != std::string::npos) home.erase(at, tail.size());
  std::printf("JRE HOME = %s\n", home.c_str());

  std::string extDirsOption = javaExtDirsOption(home);
  std::vector<std::string> texts = {classPathOption, libraryPathOption, heapOption, "-Dsun.net.inetaddr.ttl=300",
                                    extraParams};
  // Only a runtime with the Java 8 layout knows the extension folders; Java 9
  // and later refuse to start when the option is given.
  if (ombackup::directoryExists(home + "\\lib\\ext")) texts.push_back(extDirsOption);
  options.resize(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    options[i].optionString = const_cast<char*>(texts[i].c_str());
    options[i].extraInfo = nullptr;
  }
  options.push_back({const_cast<char*>("abort"), reinterpret_cast<void*>(&abortHook)});
  options.push_back({const_cast<char*>("exit"), reinterpret_cast<void*>(&exitHook)});
  JavaVMInitArgs initArgs;
  initArgs.version = JNI_VERSION_1_4;
  initArgs.nOptions = static_cast<jint>(options.size());
  initArgs.options = options.data();
  initArgs.ignoreUnrecognized = JNI_TRUE;
  std::printf("VM arguments:\n");
  for (const auto& text : texts) std::printf("%s\n", text.c_str());
  std::fflush(stdout);

  if (!loadJvmLibrary(jvmDllPath.c_str())) {
    errorLog("Could not load JVM dll functions");
    std::printf("Could not load JVM dll functions\n");
    return false;
  }
  JavaVM* createdVm = nullptr;
  JNIEnv* env = nullptr;
  creatingInvoker = this;
  jint created = createJavaVM(&createdVm, reinterpret_cast<void**>(&env), &initArgs);
  creatingInvoker = nullptr;
  if (created != 0) {
    errorLog("Could not create java VM");
    std::printf("Could not create java VM\n");
    return false;
  }
  runningInvoker = this;
  jclass found = env->FindClass(mainClassName.c_str());
  if (!found) {
    errorLog("Exception occurred while searching for main class");
    env->ExceptionDescribe();
    return false;
  }
  mainClass = static_cast<jclass>(env->NewGlobalRef(found));
  env->DeleteLocalRef(found);
  vm = createdVm;

  jmethodID mainMethod = env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V");
  if (mainMethod) {
    jclass stringClass = env->FindClass("java/lang/String");
    jmethodID fromBytes = stringClass ? env->GetMethodID(stringClass, "<init>", "([B)V") : nullptr;
    jobjectArray args = fromBytes ? env->NewObjectArray(argc, stringClass, nullptr) : nullptr;
    for (int i = 0; args && i < argc; ++i) {
      jsize length = static_cast<jsize>(std::strlen(argv[i]));
      jbyteArray bytes = env->NewByteArray(length);
      if (!bytes) break;
      env->SetByteArrayRegion(bytes, 0, length, reinterpret_cast<const jbyte*>(argv[i]));
      jobject text = env->NewObject(stringClass, fromBytes, bytes);
      env->DeleteLocalRef(bytes);
      if (!text) break;
      env->SetObjectArrayElement(args, i, text);
      env->DeleteLocalRef(text);
    }
    if (!env->ExceptionCheck()) env->CallStaticVoidMethod(mainClass, mainMethod, args);
    if (args) env->DeleteLocalRef(args);
    if (stringClass) env->DeleteLocalRef(stringClass);
  }
  if (env->ExceptionCheck()) {
    errorLog("Exception occurred while invokin main method");
    env->ExceptionDescribe();
    std::fflush(stdout);
    return false;
  }
  return true;
}

bool JavaInvoker::loadJvmLibrary(const char* path) {
  addJreBinToPath();
  // Never freed: the virtual machine lives in it until the process ends.
  HMODULE module = LoadLibraryA(path);
  if (!module) {
    std::printf("Error loading: %s\n", path);
    return false;
  }
  createJavaVM = reinterpret_cast<CreateJavaVM>(
      reinterpret_cast<void*>(GetProcAddress(module, "JNI_CreateJavaVM")));
  getDefaultJavaVMInitArgs = reinterpret_cast<GetDefaultJavaVMInitArgs>(
      reinterpret_cast<void*>(GetProcAddress(module, "JNI_GetDefaultJavaVMInitArgs")));
  if (!createJavaVM || !getDefaultJavaVMInitArgs) {
    std::printf("Error: can't find JNI interfaces in: %s\n", path);
    return false;
  }
  return true;
}

void JavaInvoker::addJreBinToPath() {
  if (jvmDllPath.empty()) {
    std::printf("Could not adjust path to include JRE bin directory since the JVM DLL path is not set.\n");
    return;
  }
  std::string folder = jvmDllPath;
  for (int i = 0; i < 2; ++i) {
    size_t cut = folder.find_last_of("/\\");
    if (cut != std::string::npos) folder.erase(cut);
  }
  // Read the whole value, however long it is (and if it grows meanwhile).
  std::vector<char> buffer(4096);
  DWORD length;
  while ((length = GetEnvironmentVariableA("PATH", buffer.data(), static_cast<DWORD>(buffer.size()))) >= buffer.size())
    buffer.resize(length + 1);
  if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
    std::printf("PATH environment variable does not exist.\n");
    return;
  }
  std::string value = std::string(buffer.data(), length) + ";" + folder;
  if (!SetEnvironmentVariableA("PATH", value.c_str())) std::printf("Error adjusting the path.\n");
}

void JavaInvoker::registerShutdownHook(ShutdownNotificationListener* listener) {
  if (!mainClass || !vm) return;
  JNIEnv* env = nullptr;
  if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2) != JNI_OK) return;
  JNINativeMethod method;
  method.name = const_cast<char*>("shutdownNotification");
  method.signature = const_cast<char*>("(J)V");
  method.fnPtr = reinterpret_cast<void*>(&Java_com_ombrel_agentservice_Start_shutdownNotification);
  if (env->RegisterNatives(mainClass, &method, 1) != 0) {
    errorLog("Error registering shutdown notification callback");
    if (env->ExceptionCheck()) env->ExceptionClear();
    return;
  }
  registeredListener = listener;
  jmethodID hook = env->GetStaticMethodID(mainClass, "addShutdownNotificationHook", "(J)V");
  if (hook) {
    env->CallStaticVoidMethod(mainClass, hook, static_cast<jlong>(reinterpret_cast<intptr_t>(listener)));
    messageLog("Registered shutdown notification callback");
  }
  if (env->ExceptionCheck()) {
    errorLog("Error adding shutdown notification hook");
    env->ExceptionClear();
  }
}

void JavaInvoker::stop() {
  if (!mainClass || !vm) return;
  JNIEnv* env = nullptr;
  if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_2) != JNI_OK) return;
  jmethodID stopMethod = env->GetStaticMethodID(mainClass, "Stop", "()V");
  if (stopMethod) env->CallStaticVoidMethod(mainClass, stopMethod);
  if (env->ExceptionCheck()) env->ExceptionClear();
}
