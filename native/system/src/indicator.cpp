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
#include <string>

#include "bridge.h"
#include "com_ombrel_guiutil_DesktopIndicator.h"
#include "com_ombrel_guiutil_Win32Util.h"
#include "com_ombrel_util_os_rasbridge.h"

using namespace rasbridge;

namespace {

std::mutex titleLock;
std::optional<WString> storedTitle;  // last title given to rasbridge.SetTitle

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

// The indicator thread and its entries. `entries` counts the adds posted and not
// yet removed; it is changed under `lock`, so an enabling thread never posts to a
// thread that has decided to end.
struct IndicatorThreadState {
  std::mutex lock;
  JNIEnv* env = nullptr;
  DWORD threadId = 0;
  JavaVM* vm = nullptr;
  int entries = 0;
};
IndicatorThreadState indicator;

LRESULT CALLBACK indicatorProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kClickMessage && lParam == WM_LBUTTONDBLCLK) {
    auto* entry = reinterpret_cast<IndicatorEntry*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    JNIEnv* env = indicator.env;
    if (entry && env) {
      env->CallVoidMethod(entry->object, entry->fireClicked);
      // The click handler's exception is its own; the loop goes on.
      if (env->ExceptionCheck()) env->ExceptionClear();
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

void removeEntry(JNIEnv* env, IndicatorEntry* entry) {
  if (env) {
    // The Java object may already carry a newer entry.
    if (env->GetLongField(entry->object, entry->handler) == toJava(entry))
      env->SetLongField(entry->object, entry->handler, 0);
    env->DeleteGlobalRef(entry->object);
  }
  delete entry;  // and its window
}

DWORD WINAPI indicatorThread(LPVOID) {
  MSG message;
  PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);  // the queue, before anything is posted
  JNIEnv* env = nullptr;
  if (indicator.vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) env = nullptr;
  indicator.env = env;
  bool running = true;
  while (running) {
    BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    if (message.hwnd == nullptr && message.message == kCommandMessage) {
      auto* entry = reinterpret_cast<IndicatorEntry*>(message.lParam);
      if (message.wParam == kAdd) {
        createWindowFor(entry);
      } else if (message.wParam == kRemove) {
        removeEntry(env, entry);
        std::lock_guard<std::mutex> hold(indicator.lock);
        if (--indicator.entries == 0) {
          indicator.threadId = 0;
          running = false;
        }
      }
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  indicator.env = nullptr;
  if (env) indicator.vm->DetachCurrentThread();
  return 0;
}

void post(DWORD thread, WPARAM command, IndicatorEntry* entry) {
  while (!PostThreadMessageA(thread, kCommandMessage, command, reinterpret_cast<LPARAM>(entry))) Sleep(0);
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
  JavaWide text(env, tooltip, false, kWithoutMessage);
  if (!text.ok()) return;
  jfieldID handler = handlerField(env, self);
  if (!handler) return;
#ifdef _WIN32
  WString copy;
  copy.swap(text.text());
  auto* existing = fromJava<IndicatorEntry*>(env->GetLongField(self, handler));
  std::lock_guard<std::mutex> hold(indicator.lock);
  if (existing) {
    existing->image = image;
    existing->tooltip.swap(copy);
    post(indicator.threadId, kUpdate, existing);
    return;
  }
  jclass type = env->GetObjectClass(self);
  jmethodID fireClicked = type ? env->GetMethodID(type, "fireClicked", "()V") : nullptr;
  if (type) env->DeleteLocalRef(type);
  if (!fireClicked) return;
  auto* entry = new (std::nothrow) IndicatorEntry;
  if (!entry) {
    throwOutOfMemory(env);
    return;
  }
  entry->image = image;
  entry->tooltip.swap(copy);
  entry->object = env->NewGlobalRef(self);
  entry->fireClicked = fireClicked;
  entry->handler = handler;
  env->SetLongField(self, handler, toJava(entry));
  if (indicator.threadId == 0) {
    om::UniqueHandle thread;
    if (env->GetJavaVM(&indicator.vm) == JNI_OK)
      thread.reset(CreateThread(nullptr, 0, indicatorThread, &indicator, 0, &indicator.threadId));
    if (!thread) {
      indicator.threadId = 0;
      env->SetLongField(self, handler, 0);
      env->DeleteGlobalRef(entry->object);
      delete entry;
      return;
    }
  }
  ++indicator.entries;
  post(indicator.threadId, kAdd, entry);
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
  if (indicator.threadId) post(indicator.threadId, kRemove, fromJava<IndicatorEntry*>(entry));
#endif
}

JNIEXPORT jint JNICALL Java_com_ombrel_guiutil_DesktopIndicator_nativeLoadImage(JNIEnv* env, jclass, jstring path) {
  JavaWide file(env, path, false, kWithoutMessage);
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
  std::optional<JavaWide> classCopy;
  if (className) {
    classCopy.emplace(env, className, false, kWithoutMessage);
    if (!classCopy->ok()) return 0;
  }
  JavaWide name(env, windowName, false, kWithoutMessage);
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
  JavaWide text(env, title, false, kWithoutMessage);
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
  JavaWide path(env, file, false, kWithoutMessage);
  if (!path.ok()) return;
#ifdef _WIN32
  ShellExecuteW(nullptr, L"open", path.get(), nullptr, nullptr, SW_HIDE);
#endif
}

}  // extern "C"
