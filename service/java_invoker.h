// Runs the agent's Java main class in a virtual machine loaded into this process.
#pragma once
#include <jni.h>

#include <functional>
#include <string>

#include "platform/win32.h"

class ShutdownNotificationListener {
 public:
  virtual ~ShutdownNotificationListener() = default;
  virtual void onShutdownNotification() = 0;
};

class JavaInvoker {
 public:
  using LogFunction = void (*)(const char* text);

  explicit JavaInvoker(const char* mainClassName);
  virtual ~JavaInvoker();
  JavaInvoker(const JavaInvoker&) = delete;
  JavaInvoker& operator=(const JavaInvoker&) = delete;

  void setClassPath(const char* value) { classPath = value; }
  void setExtraParams(const char* value) { extraParams = value; }
  void setLibraryPath(const char* value) { libraryPath = value; }
  void setMaxHeapMegabytes(int value) { maxHeapMegabytes = value; }
  void setErrorLog(LogFunction function);
  void setMessageLog(LogFunction function);

  bool launch(int argc, char** argv);
  // Whether a virtual machine was created (the destructor destroys it).
  bool hasVm() const { return vm != nullptr; }
  void registerShutdownHook(ShutdownNotificationListener* listener);
  void stop();
  // Logs the failed creation and calls onCreationAbort (the runtime's abort hook).
  void reportCreationAbort();

  // Calls onExit when the virtual machine ends the process (its exit hook).
  void reportExit(int code);

  std::string jreHome;
  // Called when the runtime ends the process while creating the virtual
  // machine (some option errors do), after "Could not create java VM" is logged.
  std::function<void()> onCreationAbort;
  // Called on the thread that ends the process when the Java side ends it once
  // the virtual machine runs (System.exit, Runtime.halt), with the exit code;
  // the process ends when it returns. Set before launch.
  std::function<void(int code)> onExit;

  // Read access for tests and diagnostics.
  const std::string& getMainClassName() const { return mainClassName; }
  const std::string& getJvmDllPath() const { return jvmDllPath; }
  int getMaxHeapMegabytes() const { return maxHeapMegabytes; }
  const std::string& getClassPath() const { return classPath; }
  const std::string& getLibraryPath() const { return libraryPath; }
  const std::string& getExtraParams() const { return extraParams; }

 private:
  bool loadJvmLibrary(const char* path);
  void addJreBinToPath();

  std::string extraParams;
  std::string classPath;
  std::string mainClassName;
  std::string vmType = "server";
  std::string jvmDllPath;
  std::string libraryPath;
  jclass mainClass = nullptr;  // a global reference
  int maxHeapMegabytes = 256;
  JavaVM* vm = nullptr;
  LogFunction errorLog;
  LogFunction messageLog;

  using CreateJavaVM = jint(JNICALL*)(JavaVM**, void**, void*);
  using GetDefaultJavaVMInitArgs = jint(JNICALL*)(void*);
  CreateJavaVM createJavaVM = nullptr;
  GetDefaultJavaVMInitArgs getDefaultJavaVMInitArgs = nullptr;
};

// Ends the process at once with `code` once standard output is flushed: no exit
// work of the C runtime or of a virtual machine whose threads may still run.
[[noreturn]] void endProcessNow(int code);

// The option list handed to JNI_CreateJavaVM for a runtime at `home` (see launch).
std::string javaExtDirsOption(const std::string& home);

extern "C" JNIEXPORT void JNICALL Java_com_ombrel_agentservice_Start_shutdownNotification(JNIEnv* env, jclass cls,
                                                                                          jlong handle);
