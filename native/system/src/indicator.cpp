// com.ombrel.guiutil.DesktopIndicator, com.ombrel.guiutil.Win32Util and
// com.ombrel.util.os.rasbridge: the Java console's hidden indicator window (class
// "OmbrelBackupWindowClass") on a message-loop thread of its own, window lookup,
// posting and show commands, the single-instance check by window title, and
// opening files through the shell.
//
// Windows only: the Linux build has no desktop, so there no window exists, no
// indicator is made and no icon can be had (each native returns its failure value).
#include <mutex>
#include <new>
#include <optional>
#include <set>
#include <string>

#include "bridge.h"
#include "com_ombrel_guiutil_DesktopIndicator.h"
#include "com_ombrel_guiutil_Win32Util.h"
#include "com_ombrel_util_os_rasbridge.h"

using namespace rasbridge;

namespace {

std::mutex titleLock;
std::optional<WString> storedTitle;  // last title given to rasbridge.SetTitle

// A title no window can bear (one holding a zero character) finds no window.
void forgetTitle(JNIEnv*, DWORD) {
  std::lock_guard<std::mutex> hold(titleLock);
  storedTitle.reset();
}

jfieldID handlerField(JNIEnv* env, jobject self) {
  jclass type = env->GetObjectClass(self);
  if (!type) return nullptr;
  jfieldID field = env->GetFieldID(type, "handler", "J");
  env->DeleteLocalRef(type);
  return field;
}

#ifdef _WIN32

constexpr UINT kCommandMessage = WM_USER;
constexpr UINT kClickMessage = WM_USER + 1;
constexpr WPARAM kAdd = 1, kUpdate = 2, kRemove = 3;
constexpr char kClassName[] = "OmbrelBackupWindowClass";
constexpr char kWindowName[] = "OmbrelBackupWindow";

struct IndicatorEntry {
  om::UniqueWindow window;  // made and destroyed on the indicator thread
  jint image = 0;
  jobject object = nullptr;  // global reference
  WString tooltip;
  jmethodID fireClicked = nullptr;
  jfieldID handler = nullptr;
};

// The indicator thread and its entries: the records queued and not yet removed,
// the only pointers a thread command is taken to carry (anyone may post to the
// thread). Changed under `lock`. `threadId` is 0 while no thread runs.
struct IndicatorThreadState {
  std::mutex lock;
  JavaVM* vm = nullptr;
  DWORD threadId = 0;
  std::set<IndicatorEntry*> entries;
};
IndicatorThreadState indicator;

// The environment of the indicator thread, its own: a thread that ends never
// clears that of a thread started after it.
thread_local JNIEnv* indicatorEnv = nullptr;

LRESULT CALLBACK indicatorProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kClickMessage && lParam == WM_LBUTTONDBLCLK) {
    auto* entry = reinterpret_cast<IndicatorEntry*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    JNIEnv* env = indicatorEnv;
    if (entry && env) {
      env->CallVoidMethod(entry->object, entry->fireClicked);
      // The click handler's exception is reported and cleared; the loop goes on.
      if (env->ExceptionCheck()) {
        env->ExceptionDescribe();
        env->ExceptionClear();
      }
    }
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void createWindowFor(IndicatorEntry* entry) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = indicatorProcedure;
  windowClass.lpszClassName = kClassName;
  // The class outlives the thread: a later thread, or a second indicator, finds it registered.
  if (!RegisterClassExA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    char caption[16];
    wsprintfA(caption, "%x", static_cast<unsigned>(GetLastError()));
    MessageBoxA(nullptr, " ", caption, MB_OK);
    return;
  }
  entry->window.reset(
      CreateWindowExA(0, kClassName, kWindowName, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));
  if (!entry->window) {
    MessageBoxA(nullptr, " ", " ", MB_OK);
    return;
  }
  SetWindowLongPtrA(entry->window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(entry));
}

// Frees a record taken out of the set (its window with it, on the thread that made it).
void removeEntry(JNIEnv* env, IndicatorEntry* entry) {
  if (env) {
    // The Java object may already carry a newer entry.
    if (env->GetLongField(entry->object, entry->handler) == toJava(entry))
      env->SetLongField(entry->object, entry->handler, 0);
    env->DeleteGlobalRef(entry->object);
  }
  delete entry;
}

// The record a command carries when the library queued it, else null.
IndicatorEntry* queued(LPARAM pointer) {
  auto* entry = reinterpret_cast<IndicatorEntry*>(pointer);
  return indicator.entries.count(entry) ? entry : nullptr;
}

struct ThreadStart {
  HANDLE ready;  // set once the thread has its message queue and its environment
};

DWORD WINAPI indicatorThread(LPVOID parameter) {
  MSG message;
  PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the queue, before anything is posted
  JNIEnv* env = nullptr;
  if (indicator.vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) env = nullptr;
  indicatorEnv = env;
  SetEvent(static_cast<ThreadStart*>(parameter)->ready);
  bool running = true;
  while (running) {
    BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    if (message.hwnd == nullptr && message.message == kCommandMessage) {
      // Records are freed only here, so one found under the lock may be used after it.
      IndicatorEntry* entry;
      bool remove = message.wParam == kRemove;
      {
        std::lock_guard<std::mutex> hold(indicator.lock);
        entry = queued(message.lParam);
        if (entry && remove) {
          indicator.entries.erase(entry);
          if (indicator.entries.empty()) {
            indicator.threadId = 0;
            running = false;
          }
        }
      }
      if (!entry) continue;  // not a record of ours
      if (remove)
        removeEntry(env, entry);
      else if (message.wParam == kAdd && !entry->window)
        createWindowFor(entry);
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  // However the loop ended (the last remove, or a WM_QUIT any process may post to
  // the window), no thread runs now and the records left go with this one.
  std::set<IndicatorEntry*> left;
  {
    std::lock_guard<std::mutex> hold(indicator.lock);
    if (running) {
      indicator.threadId = 0;
      left.swap(indicator.entries);
    }
  }
  for (IndicatorEntry* entry : left) removeEntry(env, entry);
  indicatorEnv = nullptr;
  if (env) indicator.vm->DetachCurrentThread();
  return 0;
}

// Starts the indicator thread and waits until it takes commands; false when it
// cannot be started. Called under the lock.
bool startThread(JNIEnv* env) {
  if (env->GetJavaVM(&indicator.vm) != JNI_OK) return false;
  om::UniqueHandle ready(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!ready) return false;
  ThreadStart start{ready.get()};
  DWORD id = 0;
  om::UniqueHandle thread(CreateThread(nullptr, 0, indicatorThread, &start, 0, &id));
  if (!thread) return false;
  HANDLE either[] = {ready.get(), thread.get()};
  if (WaitForMultipleObjects(2, either, FALSE, INFINITE) != WAIT_OBJECT_0) return false;  // it ended
  indicator.threadId = id;
  return true;
}

// One post of a command; false when the thread does not take it.
bool post(WPARAM command, IndicatorEntry* entry) {
  return PostThreadMessageA(indicator.threadId, kCommandMessage, command, reinterpret_cast<LPARAM>(entry)) != FALSE;
}

HWND findWindow(const WCHAR* className, const WCHAR* title) { return FindWindowW(className, title); }

void bringForward(HWND window) {
  ShowWindow(window, SW_RESTORE);
  SetForegroundWindow(window);
}

#endif  // _WIN32

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_ombrel_guiutil_DesktopIndicator_nativeEnable(JNIEnv* env, jobject self, jint image,
                                                                           jstring tooltip) {
  WideText text(env, tooltip, kWithoutMessage);
  if (!text.ok()) return;
  jfieldID handler = handlerField(env, self);
  if (!handler) return;
#ifdef _WIN32
  std::lock_guard<std::mutex> hold(indicator.lock);
  IndicatorEntry* existing = queued(static_cast<LPARAM>(env->GetLongField(self, handler)));
  if (existing) {
    existing->image = image;
    existing->tooltip.swap(text.text());
    post(kUpdate, existing);
    return;
  }
  jclass type = env->GetObjectClass(self);
  jmethodID fireClicked = type ? env->GetMethodID(type, "fireClicked", "()V") : nullptr;
  if (type) env->DeleteLocalRef(type);
  if (!fireClicked) return;
  if (indicator.threadId == 0 && !startThread(env)) return;
  auto* entry = new (std::nothrow) IndicatorEntry;
  if (!entry) {
    throwOutOfMemory(env);
    return;
  }
  entry->image = image;
  entry->tooltip.swap(text.text());
  entry->object = env->NewGlobalRef(self);
  entry->fireClicked = fireClicked;
  entry->handler = handler;
  indicator.entries.insert(entry);
  env->SetLongField(self, handler, toJava(entry));
  if (!post(kAdd, entry)) {  // the thread is gone (or its queue full): not enabled
    indicator.entries.erase(entry);
    removeEntry(env, entry);
  }
#else
  (void)image;
  (void)handler;
#endif
}

JNIEXPORT void JNICALL Java_com_ombrel_guiutil_DesktopIndicator_nativeDisable(JNIEnv* env, jobject self) {
  jfieldID handler = handlerField(env, self);
  if (!handler) return;
  jlong entry = env->GetLongField(self, handler);
  if (entry == 0) return;
#ifdef _WIN32
  // Cleared here as well as by the thread, so a second disable posts nothing.
  env->SetLongField(self, handler, 0);
  std::lock_guard<std::mutex> hold(indicator.lock);
  if (IndicatorEntry* record = queued(static_cast<LPARAM>(entry))) post(kRemove, record);
#endif
}

JNIEXPORT jint JNICALL Java_com_ombrel_guiutil_DesktopIndicator_nativeLoadImage(JNIEnv* env, jclass, jstring path) {
  WideName file(env, path, kQuietly, kWithoutMessage);
  if (!file.ok()) return -1;
#ifdef _WIN32
  HICON icon = ExtractIconW(libraryInstance, file.get(), 0);
  // Null: no icon; 1: not a file that holds icons.
  if (!icon || icon == reinterpret_cast<HICON>(1)) return -1;
  return static_cast<jint>(toJava(icon));
#else
  return -1;
#endif
}

JNIEXPORT void JNICALL Java_com_ombrel_guiutil_DesktopIndicator_nativeFreeImage(JNIEnv*, jclass, jint icon) {
#ifdef _WIN32
  DestroyIcon(fromJava<HICON>(icon));
#else
  (void)icon;
#endif
}

JNIEXPORT void JNICALL Java_com_ombrel_guiutil_DesktopIndicator_nativeRestoreWindow(JNIEnv*, jclass) {
#ifdef _WIN32
  std::lock_guard<std::mutex> hold(titleLock);
  HWND window = storedTitle ? findWindow(nullptr, storedTitle->c_str()) : nullptr;
  if (window) bringForward(window);
#endif
}

JNIEXPORT jlong JNICALL Java_com_ombrel_guiutil_Win32Util_findWindow(JNIEnv* env, jclass, jstring className,
                                                                   jstring windowName) {
  if (!windowName) {
    throwNullPointer(env);
    return 0;
  }
#ifdef _WIN32
  std::optional<WideName> classCopy;
  if (className) {
    classCopy.emplace(env, className, kQuietly, kWithoutMessage);
    if (!classCopy->ok()) return 0;
  }
  WideName name(env, windowName, kQuietly, kWithoutMessage);
  return name.ok() ? toJava(findWindow(classCopy ? classCopy->get() : nullptr, name.get())) : 0;
#else
  return 0;
#endif
}

JNIEXPORT jboolean JNICALL Java_com_ombrel_guiutil_Win32Util_sendMessage(JNIEnv*, jclass, jlong window, jint message,
                                                                       jint wParam, jlong lParam) {
#ifdef _WIN32
  return PostMessageA(fromJava<HWND>(window), static_cast<UINT>(message),
                      static_cast<WPARAM>(static_cast<unsigned>(wParam)), static_cast<LPARAM>(lParam))
             ? JNI_TRUE
             : JNI_FALSE;
#else
  (void)window, (void)message, (void)wParam, (void)lParam;
  return JNI_FALSE;
#endif
}

JNIEXPORT jboolean JNICALL Java_com_ombrel_guiutil_Win32Util_showWindow(JNIEnv*, jclass, jlong window,
                                                                      jint command) {
#ifdef _WIN32
  return ShowWindow(fromJava<HWND>(window), command) ? JNI_TRUE : JNI_FALSE;
#else
  (void)window, (void)command;
  return JNI_FALSE;
#endif
}

JNIEXPORT void JNICALL Java_com_ombrel_util_os_rasbridge_SetTitle(JNIEnv* env, jclass, jstring title) {
  WideName text(env, title, forgetTitle, kWithoutMessage);
  if (!text.ok()) return;
  std::lock_guard<std::mutex> hold(titleLock);
  storedTitle.emplace().swap(text.text());
}

JNIEXPORT jint JNICALL Java_com_ombrel_util_os_rasbridge_newInstance(JNIEnv*, jclass) {
#ifdef _WIN32
  std::lock_guard<std::mutex> hold(titleLock);
  // Without a title there is nothing to look for (a null title would match any window).
  HWND window = storedTitle ? findWindow(nullptr, storedTitle->c_str()) : nullptr;
  if (!window) return 1;
  bringForward(window);
  return 0;
#else
  return 1;
#endif
}

JNIEXPORT void JNICALL Java_com_ombrel_util_os_rasbridge_ExecShell(JNIEnv* env, jclass, jstring file) {
  WideName path(env, file, kQuietly, kWithoutMessage);
  if (!path.ok()) return;
#ifdef _WIN32
  ShellExecuteW(nullptr, L"open", path.get(), nullptr, nullptr, SW_HIDE);
#endif
}

}  // extern "C"
