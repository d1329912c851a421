// What every JNI library of the agent side shares, in the manner of the JDK's
// own native helpers: native pointers and handles as Java longs, Java strings
// as UTF-16 (for the wide Win32 calls) or as their modified UTF-8 bytes (for
// names the JNI itself takes), text in a code page for the calls that only take
// ANSI text, pinned arrays with range checks, one-element out-arrays, Java
// strings from UTF-16 and from system messages, and throwing by class name or
// with a system message. Each library keeps its own way of reporting failures
// (status codes or exceptions) on top of these.
#pragma once
#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "platform/win32.h"
#include "platform/win32_owners.h"

namespace om::jni {

using om::WString;

// ---- pointers and handles as Java longs ------------------------------------------------
// A native pointer or handle as the Java long that carries it, and back.
template <class T>
jlong toJava(T* pointer) noexcept {
  return static_cast<jlong>(reinterpret_cast<std::intptr_t>(pointer));
}
template <class Pointer>
Pointer fromJava(jlong value) noexcept {
  static_assert(std::is_pointer_v<Pointer>, "a Java long carries a pointer or a handle");
  return reinterpret_cast<Pointer>(static_cast<std::intptr_t>(value));
}

// Clears a pending Java exception; true when there was one.
bool clearPending(JNIEnv* env);

// ---- Java strings in --------------------------------------------------------------------
// A Java string's characters for the life of the object: UTF-16 units
// (GetStringChars, not zero-terminated) or modified UTF-8 bytes (GetStringUTFChars,
// zero-terminated; for names the JNI takes, such as methods and signatures, never
// for text that a system call reads). A null string has none and is ok; characters
// that cannot be had are reported by ok() and the Java exception is cleared.
template <class Char>
class JavaCharacters {
 public:
  JavaCharacters(JNIEnv* env, jstring text);
  ~JavaCharacters();
  JavaCharacters(const JavaCharacters&) = delete;
  JavaCharacters& operator=(const JavaCharacters&) = delete;
  bool ok() const { return ok_; }
  bool isNull() const { return text_ == nullptr; }
  const Char* data() const { return chars_; }
  std::size_t length() const { return length_; }

 private:
  JNIEnv* env_;
  jstring text_;
  const Char* chars_ = nullptr;
  std::size_t length_ = 0;
  bool ok_ = true;
};
using JavaChars = JavaCharacters<jchar>;
using JavaUtf = JavaCharacters<char>;
extern template class JavaCharacters<jchar>;
extern template class JavaCharacters<char>;

// What a Java string is to the system call it reaches. The system reads a name
// (a path, a key or value name, a service, a window title or class, a module, a
// volume, a privilege) up to its first zero character, so a name holding one
// would act on another object: it is refused before any system call. Text is
// data and keeps every character, zeros included.
enum class StringKind { kText, kName };

// A Java string copied as zero-terminated UTF-16, for the wide Win32 calls. A
// null string stays null (get() is null). A failure is reported by ok() and
// error(), with any Java exception cleared: ERROR_OUTOFMEMORY when the characters
// cannot be had, ERROR_INVALID_NAME for a name holding a zero character.
class JavaString {
 public:
  JavaString(JNIEnv* env, jstring text, StringKind kind);
  bool ok() const { return error_ == ERROR_SUCCESS; }
  DWORD error() const { return error_; }
  bool isNull() const { return null_; }
  const WCHAR* get() const { return null_ || !ok() ? nullptr : text_.c_str(); }
  WString& text() { return text_; }
  std::size_t length() const { return text_.size(); }

 private:
  WString text_;
  bool null_ = false;
  DWORD error_ = ERROR_SUCCESS;
};
// Each call site says which of the two a string is.
struct JavaText : JavaString {
  JavaText(JNIEnv* env, jstring text) : JavaString(env, text, StringKind::kText) {}
};
struct JavaName : JavaString {
  JavaName(JNIEnv* env, jstring text) : JavaString(env, text, StringKind::kName) {}
};

// ---- code pages, for the system calls that take only ANSI text ---------------------------
// UTF-16 in a code page (CP_ACP: the system's ANSI code page), exactly or not at
// all: a character the code page has no form of (which the system would give as
// a look-alike or its default character, making a name another one) or an
// unpaired surrogate fails the conversion. ERROR_SUCCESS; ERROR_OUTOFMEMORY when
// the room cannot be had; otherwise the conversion's failure
// (ERROR_NO_UNICODE_TRANSLATION for a character without an exact form).
DWORD toCodePage(const WCHAR* text, std::size_t length, UINT codePage, std::string& out);
// Text of a code page as UTF-16; `length` bytes, or up to the first zero byte
// when it is -1. Empty when it cannot be converted.
WString fromCodePage(const char* text, std::ptrdiff_t length, UINT codePage);

// ---- arrays -----------------------------------------------------------------------------
// True when [offset, offset + length) lies inside `size` elements, in 64-bit
// arithmetic so no sum of two ints overflows.
constexpr bool inRange(std::int64_t size, std::int64_t offset, std::int64_t length) {
  return offset >= 0 && length >= 0 && offset <= size && length <= size - offset;
}
// The same for a Java array; false for a null one.
bool inRange(JNIEnv* env, jarray array, std::int64_t offset, std::int64_t length);
// True when an array has at least `size` elements; false for a null one.
bool hasAtLeast(JNIEnv* env, jarray array, std::int64_t size);

// A primitive array pinned (critical access) for the length of one short system
// call: nothing that can block may run while it is held. Buffers the call fills
// are released with copy-back, buffers it only reads without. A null array or
// one that cannot be pinned is reported by ok(), the Java exception cleared.
class PinnedArray {
 public:
  enum Mode { kCopyBack = 0, kNoCopyBack = JNI_ABORT };
  PinnedArray(JNIEnv* env, jarray array, Mode mode);
  ~PinnedArray();
  PinnedArray(const PinnedArray&) = delete;
  PinnedArray& operator=(const PinnedArray&) = delete;
  bool ok() const { return data_ != nullptr; }
  BYTE* bytes() const { return static_cast<BYTE*>(data_); }
  jint* ints() const { return static_cast<jint*>(data_); }
  // Number of elements.
  jsize size() const { return size_; }
  // The bytes [offset, offset + length) of a byte array, null when they lie outside it.
  BYTE* range(std::int64_t offset, std::int64_t length) const {
    return ok() && inRange(size_, offset, length) ? bytes() + offset : nullptr;
  }

 private:
  JNIEnv* env_;
  jarray array_;
  Mode mode_;
  void* data_ = nullptr;
  jsize size_ = 0;
};

// ---- one-element out-arrays --------------------------------------------------------------
// True for an array of exactly one element.
bool isOutArray(JNIEnv* env, jarray array);
// Stores element 0. A null or empty array takes nothing (false); no exception is left.
bool setOut(JNIEnv* env, jlongArray array, jlong value);
bool setOut(JNIEnv* env, jintArray array, jint value);
bool setOut(JNIEnv* env, jbooleanArray array, jboolean value);
// Element 0, or 0 for a null or empty array.
jlong takeLong(JNIEnv* env, jlongArray array);

// ---- Java strings out ---------------------------------------------------------------------
jstring newString(JNIEnv* env, const WCHAR* chars, std::size_t length);
inline jstring newString(JNIEnv* env, const WString& text) { return newString(env, text.data(), text.size()); }
// Up to the first zero character, at most `limit` characters.
jstring newStringZ(JNIEnv* env, const WCHAR* text, std::size_t limit = SIZE_MAX);
// Text of the system's ANSI code page up to its first zero byte.
jstring newStringAnsi(JNIEnv* env, const char* text);

// The system's text for a Win32 code (or an HRESULT of the Win32 facility)
// without its line end, or kNoSystemMessage.
constexpr char kNoSystemMessage[] = "no error message";
WString systemMessageText(DWORD code);
inline jstring newSystemMessage(JNIEnv* env, DWORD code) { return newString(env, systemMessageText(code)); }

// ---- exceptions ----------------------------------------------------------------------------
// UTF-16 as the modified UTF-8 that ThrowNew and the JNI's name arguments take.
std::string toModifiedUtf8(const WCHAR* text, std::size_t length);

// Throws a new exception of a class with a message (null: no message). Nothing
// is thrown for a null class.
void throwNew(JNIEnv* env, jclass type, const char* message);
void throwNew(JNIEnv* env, jclass type, const WString& message);
// The class looked up by name for this one throw (as JNU_ThrowByName); when it
// cannot be found, its lookup's exception is what is pending.
void throwByName(JNIEnv* env, const char* className, const char* message);
// The system's text of `code` as the message.
void throwWithSystemMessage(JNIEnv* env, jclass type, DWORD code);
void throwByNameWithSystemMessage(JNIEnv* env, const char* className, DWORD code);
// type(message, code) through its (Ljava/lang/String;I)V constructor, with the
// system's text of `code` as the message; nothing is thrown when the message or
// the object cannot be made.
void throwWithCode(JNIEnv* env, jclass type, jmethodID constructor, DWORD code);
// The same with a message of its own (modified UTF-8) in place of the system's text.
void throwWithCode(JNIEnv* env, jclass type, jmethodID constructor, const char* message, DWORD code);

}  // namespace om::jni
