// Owners of Win32 resources: one move-only type per kind of handle, closed in
// one place, so error paths need no cleanup code of their own. Closing keeps
// the thread's last error, so a failing call can be followed by an early
// return that reads GetLastError after the owners have gone.
//
// Also the two lookups every program repeats: the system's text for an error
// code and the path of a module.
#pragma once

#include <string>
#include <utility>

#include "win32.h"

namespace om {

// Text in the wide (UTF-16) Win32 calls: wchar_t on Windows, char16_t on the stand-in.
using WString = std::basic_string<WCHAR>;

template <class Traits>
class UniqueResource {
 public:
  using pointer = typename Traits::pointer;

  UniqueResource() noexcept = default;
  explicit UniqueResource(pointer value) noexcept : value_(value) {}
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { reset(); }

  pointer get() const noexcept { return value_; }
  bool valid() const noexcept { return value_ != Traits::invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // Gives up ownership without closing.
  pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }

  // Closes what is held (keeping the last error) and takes `value`.
  void reset(pointer value = Traits::invalid()) noexcept {
    pointer old = std::exchange(value_, value);
    if (old != Traits::invalid()) {
      DWORD lastError = GetLastError();
      Traits::close(old);
      SetLastError(lastError);
    }
  }

  // For a call that returns the resource through an out-parameter.
  pointer* put() noexcept {
    reset();
    return &value_;
  }

 private:
  pointer value_ = Traits::invalid();
};

namespace owners {
template <class T, T (*Invalid)(), auto Close>
struct Traits {
  using pointer = T;
  static pointer invalid() noexcept { return Invalid(); }
  static void close(pointer value) noexcept { Close(value); }
};
template <class T>
inline T none() noexcept { return nullptr; }
inline HANDLE invalidHandle() noexcept { return INVALID_HANDLE_VALUE; }
}  // namespace owners

// Kernel objects whose "none" is null: events, threads, processes, mappings, tokens.
using UniqueHandle = UniqueResource<owners::Traits<HANDLE, owners::none<HANDLE>, CloseHandle>>;
// Handles whose "none" is INVALID_HANDLE_VALUE: CreateFile and friends.
using UniqueFile = UniqueResource<owners::Traits<HANDLE, owners::invalidHandle, CloseHandle>>;
using UniqueFind = UniqueResource<owners::Traits<HANDLE, owners::invalidHandle, FindClose>>;
using UniqueChangeNotification =
    UniqueResource<owners::Traits<HANDLE, owners::invalidHandle, FindCloseChangeNotification>>;
using UniqueVolumeMountPointFind =
    UniqueResource<owners::Traits<HANDLE, owners::invalidHandle, FindVolumeMountPointClose>>;
using UniqueServiceHandle = UniqueResource<owners::Traits<SC_HANDLE, owners::none<SC_HANDLE>, CloseServiceHandle>>;
using UniqueHkey = UniqueResource<owners::Traits<HKEY, owners::none<HKEY>, RegCloseKey>>;
using UniqueModule = UniqueResource<owners::Traits<HMODULE, owners::none<HMODULE>, FreeLibrary>>;
using UniqueLocal = UniqueResource<owners::Traits<HLOCAL, owners::none<HLOCAL>, LocalFree>>;
using UniqueEventSource = UniqueResource<owners::Traits<HANDLE, owners::none<HANDLE>, DeregisterEventSource>>;

#ifdef _WIN32
using UniqueGlobal = UniqueResource<owners::Traits<HGLOBAL, owners::none<HGLOBAL>, GlobalFree>>;
using UniqueIcon = UniqueResource<owners::Traits<HICON, owners::none<HICON>, DestroyIcon>>;
// A window destroyed by its owner (on the thread that created it).
using UniqueWindow = UniqueResource<owners::Traits<HWND, owners::none<HWND>, DestroyWindow>>;

// A GDI object made by Create*: bitmaps, brushes, pens, fonts, regions, palettes.
template <class T>
using UniqueGdiObject = UniqueResource<owners::Traits<T, owners::none<T>, DeleteObject>>;
using UniqueBitmap = UniqueGdiObject<HBITMAP>;
using UniqueBrush = UniqueGdiObject<HBRUSH>;
using UniquePen = UniqueGdiObject<HPEN>;
using UniqueFont = UniqueGdiObject<HFONT>;
using UniqueRegion = UniqueGdiObject<HRGN>;
using UniquePalette = UniqueGdiObject<HPALETTE>;
// An enhanced metafile (CreateEnhMetaFile/CloseEnhMetaFile, SetEnhMetaFileBits, CopyEnhMetaFile).
using UniqueEnhMetaFile = UniqueResource<owners::Traits<HENHMETAFILE, owners::none<HENHMETAFILE>, DeleteEnhMetaFile>>;

// A device context made by CreateDC/CreateCompatibleDC.
using UniqueDc = UniqueResource<owners::Traits<HDC, owners::none<HDC>, DeleteDC>>;

// A device context borrowed from a window (GetDC/GetWindowDC), given back on destruction.
class WindowDc {
 public:
  explicit WindowDc(HWND window) noexcept : window_(window), dc_(GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// Selects an object into a device context and puts the previous one back on
// destruction; destroy it before the object's owner.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  ~SelectedObject() {
    if (previous_ && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
  }
  explicit operator bool() const noexcept { return previous_ != nullptr && previous_ != HGDI_ERROR; }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A palette selected into a device context (SelectPalette), put back on destruction.
class SelectedPalette {
 public:
  SelectedPalette(HDC dc, HPALETTE palette, bool background) noexcept
      : dc_(dc), previous_(palette ? SelectPalette(dc, palette, background) : nullptr) {}
  SelectedPalette(const SelectedPalette&) = delete;
  SelectedPalette& operator=(const SelectedPalette&) = delete;
  ~SelectedPalette() {
    if (previous_) SelectPalette(dc_, previous_, TRUE);
  }

 private:
  HDC dc_;
  HPALETTE previous_;
};
#endif

namespace owners {
// FormatMessageA or W into a buffer the system allocates, without the trailing
// line end; empty when the system has no text for the code.
template <class Char, class Format>
std::basic_string<Char> systemText(DWORD code, Format format) {
  Char* text = nullptr;
  DWORD length = format(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<Char*>(&text), 0,
                        nullptr);
  UniqueLocal owner(text);
  if (!length || !text) return {};
  std::basic_string<Char> result(text, length);
  while (!result.empty() && (result.back() == '\r' || result.back() == '\n' || result.back() == ' ')) result.pop_back();
  return result;
}
}  // namespace owners

// The system's text for an error code, without the trailing line end; empty
// when the system has none. systemMessage is in the ANSI code page.
inline std::string systemMessage(DWORD code) { return owners::systemText<char>(code, FormatMessageA); }
inline WString systemMessageW(DWORD code) { return owners::systemText<WCHAR>(code, FormatMessageW); }

namespace owners {
template <class Char, class Get>
std::basic_string<Char> growingModulePath(HMODULE module, Get get) {
  std::basic_string<Char> path(260, Char());
  for (;;) {
    DWORD size = static_cast<DWORD>(path.size());
    DWORD length = get(module, &path[0], size);
    if (length == 0) return {};
    if (length < size) {
      path.resize(length);
      return path;
    }
    if (size >= 32768) return {};  // longer than any Windows path
    path.resize(size * 2);
  }
}
}  // namespace owners

// The full path of a module (the program itself for null), however long; empty
// on failure, with the last error set.
inline std::string moduleFileName(HMODULE module = nullptr) {
  return owners::growingModulePath<char>(module, GetModuleFileNameA);
}
inline WString moduleFileNameW(HMODULE module = nullptr) {
  return owners::growingModulePath<WCHAR>(module, GetModuleFileNameW);
}

}  // namespace om
