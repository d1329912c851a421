#include "platform/jni/jni_glue.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace om::jni {

bool clearPending(JNIEnv* env) {
  if (!env->ExceptionCheck()) return false;
  env->ExceptionClear();
  return true;
}

// ---- Java strings in --------------------------------------------------------------------

template <class Char>
JavaCharacters<Char>::JavaCharacters(JNIEnv* env, jstring text) : env_(env), text_(text) {
  if (!text) return;
  jsize length;
  if constexpr (std::is_same_v<Char, jchar>) {
    length = env->GetStringLength(text);
    chars_ = env->GetStringChars(text, nullptr);
  } else {
    length = env->GetStringUTFLength(text);
    chars_ = env->GetStringUTFChars(text, nullptr);
  }
  if (!chars_ || length < 0) {
    clearPending(env);
    ok_ = false;
    return;
  }
  length_ = static_cast<std::size_t>(length);
}

template <class Char>
JavaCharacters<Char>::~JavaCharacters() {
  if (!chars_) return;
  if constexpr (std::is_same_v<Char, jchar>)
    env_->ReleaseStringChars(text_, chars_);
  else
    env_->ReleaseStringUTFChars(text_, chars_);
}

template class JavaCharacters<jchar>;
template class JavaCharacters<char>;

JavaString::JavaString(JNIEnv* env, jstring text, StringKind kind) : null_(text == nullptr) {
  if (null_) return;
  JavaChars chars(env, text);
  if (!chars.ok()) {
    error_ = ERROR_OUTOFMEMORY;
    return;
  }
  const auto* first = reinterpret_cast<const WCHAR*>(chars.data());
  const WCHAR* end = first + chars.length();
  if (kind == StringKind::kName && std::find(first, end, WCHAR{0}) != end) {
    error_ = ERROR_INVALID_NAME;
    return;
  }
  try {
    text_.assign(first, end);
  } catch (const std::bad_alloc&) {
    error_ = ERROR_OUTOFMEMORY;
  }
}

// ---- code pages ---------------------------------------------------------------------------

namespace {

DWORD conversionError() {
  DWORD error = GetLastError();
  return error != ERROR_SUCCESS ? error : static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION);
}

// One exact conversion: the bytes written (needed, for room 0), or 0 with
// `error` set. No best fit: a character without an exact form becomes the
// default character, and the call says it used one. UTF-8 (the ANSI code page
// on a system with that option) and GB 18030 hold every character and take
// neither that flag nor a default character (ERROR_INVALID_FLAGS,
// ERROR_INVALID_PARAMETER); there WC_ERR_INVALID_CHARS refuses the one thing
// without a form, an unpaired surrogate.
int convertExactly(UINT codePage, const WCHAR* text, int length, char* out, int room, DWORD& error) {
  BOOL usedDefault = FALSE;
  int size = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text, length, out, room, nullptr, &usedDefault);
  if (size > 0) {
    if (!usedDefault) return size;
    error = ERROR_NO_UNICODE_TRANSLATION;
    return 0;
  }
  error = conversionError();
  if (error != ERROR_INVALID_FLAGS && error != ERROR_INVALID_PARAMETER) return 0;
  size = WideCharToMultiByte(codePage, WC_ERR_INVALID_CHARS, text, length, out, room, nullptr, nullptr);
  if (size > 0) return size;
  error = conversionError();
  return 0;
}

}  // namespace

DWORD toCodePage(const WCHAR* text, std::size_t length, UINT codePage, std::string& out) {
  out.clear();
  if (length == 0) return ERROR_SUCCESS;
  if (length > 0x7FFFFFFF) return ERROR_OUTOFMEMORY;
  int wide = static_cast<int>(length);
  DWORD error = ERROR_NO_UNICODE_TRANSLATION;
  int size = convertExactly(codePage, text, wide, nullptr, 0, error);
  if (size == 0) return error;
  try {
    out.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
  if (convertExactly(codePage, text, wide, &out[0], size, error) != size) {
    out.clear();
    return error;
  }
  return ERROR_SUCCESS;
}

WString fromCodePage(const char* text, std::ptrdiff_t length, UINT codePage) {
  if (!text) return WString();
  std::size_t bytes = length < 0 ? std::strlen(text) : static_cast<std::size_t>(length);
  if (bytes == 0 || bytes > 0x7FFFFFFF) return WString();
  int size = MultiByteToWideChar(codePage, 0, text, static_cast<int>(bytes), nullptr, 0);
  if (size <= 0) return WString();
  WString out;
  try {
    out.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    return WString();
  }
  if (MultiByteToWideChar(codePage, 0, text, static_cast<int>(bytes), &out[0], size) != size) return WString();
  return out;
}

// ---- arrays -----------------------------------------------------------------------------

bool inRange(JNIEnv* env, jarray array, std::int64_t offset, std::int64_t length) {
  return array && inRange(env->GetArrayLength(array), offset, length);
}

bool hasAtLeast(JNIEnv* env, jarray array, std::int64_t size) { return array && env->GetArrayLength(array) >= size; }

PinnedArray::PinnedArray(JNIEnv* env, jarray array, Mode mode) : env_(env), array_(array), mode_(mode) {
  if (!array) return;
  size_ = env->GetArrayLength(array);
  data_ = env->GetPrimitiveArrayCritical(array, nullptr);
  if (!data_) clearPending(env);
}

PinnedArray::~PinnedArray() {
  if (data_) env_->ReleasePrimitiveArrayCritical(array_, data_, mode_);
}

// ---- one-element out-arrays --------------------------------------------------------------

bool isOutArray(JNIEnv* env, jarray array) { return array && env->GetArrayLength(array) == 1; }

bool setOut(JNIEnv* env, jlongArray array, jlong value) {
  if (!hasAtLeast(env, array, 1)) return false;
  env->SetLongArrayRegion(array, 0, 1, &value);
  return true;
}

bool setOut(JNIEnv* env, jintArray array, jint value) {
  if (!hasAtLeast(env, array, 1)) return false;
  env->SetIntArrayRegion(array, 0, 1, &value);
  return true;
}

bool setOut(JNIEnv* env, jbooleanArray array, jboolean value) {
  if (!hasAtLeast(env, array, 1)) return false;
  env->SetBooleanArrayRegion(array, 0, 1, &value);
  return true;
}

jlong takeLong(JNIEnv* env, jlongArray array) {
  jlong value = 0;
  if (hasAtLeast(env, array, 1)) env->GetLongArrayRegion(array, 0, 1, &value);
  return value;
}

// ---- Java strings out ---------------------------------------------------------------------

jstring newString(JNIEnv* env, const WCHAR* chars, std::size_t length) {
  if (length > 0x7FFFFFFF) return nullptr;
  return env->NewString(reinterpret_cast<const jchar*>(chars), static_cast<jsize>(length));
}

jstring newStringZ(JNIEnv* env, const WCHAR* text, std::size_t limit) {
  std::size_t length = 0;
  while (length < limit && text[length]) ++length;
  return newString(env, text, length);
}

jstring newStringAnsi(JNIEnv* env, const char* text) { return newString(env, fromCodePage(text, -1, CP_ACP)); }

WString systemMessageText(DWORD code) {
  // An HRESULT of the Win32 facility has the text of its Win32 code.
  if ((code & 0xFFFF0000u) == 0x80070000u) code &= 0xFFFFu;
  WString text = systemMessageW(code);
  if (text.empty()) text.assign(kNoSystemMessage, kNoSystemMessage + sizeof kNoSystemMessage - 1);
  return text;
}

// ---- exceptions ----------------------------------------------------------------------------

std::string toModifiedUtf8(const WCHAR* text, std::size_t length) {
  std::string out;
  out.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    auto c = static_cast<std::uint16_t>(text[i]);
    if (c != 0 && c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {  // zero too: two bytes, never a terminator
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {  // each half of a surrogate pair on its own
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

void throwNew(JNIEnv* env, jclass type, const char* message) {
  if (type) env->ThrowNew(type, message);
}

void throwNew(JNIEnv* env, jclass type, const WString& message) {
  throwNew(env, type, toModifiedUtf8(message.data(), message.size()).c_str());
}

void throwByName(JNIEnv* env, const char* className, const char* message) {
  jclass type = env->FindClass(className);
  if (!type) return;
  throwNew(env, type, message);
  env->DeleteLocalRef(type);
}

void throwWithSystemMessage(JNIEnv* env, jclass type, DWORD code) {
  if (type) throwNew(env, type, systemMessageText(code));
}

void throwByNameWithSystemMessage(JNIEnv* env, const char* className, DWORD code) {
  jclass type = env->FindClass(className);
  if (!type) return;
  throwWithSystemMessage(env, type, code);
  env->DeleteLocalRef(type);
}

namespace {
void throwMade(JNIEnv* env, jclass type, jmethodID constructor, jstring message, DWORD code) {
  if (!message) return;
  auto error = static_cast<jthrowable>(env->NewObject(type, constructor, message, static_cast<jint>(code)));
  env->DeleteLocalRef(message);
  if (!error) return;
  env->Throw(error);
  env->DeleteLocalRef(error);
}
}  // namespace

void throwWithCode(JNIEnv* env, jclass type, jmethodID constructor, DWORD code) {
  if (type && constructor) throwMade(env, type, constructor, newSystemMessage(env, code), code);
}

void throwWithCode(JNIEnv* env, jclass type, jmethodID constructor, const char* message, DWORD code) {
  if (type && constructor) throwMade(env, type, constructor, env->NewStringUTF(message), code);
}

}  // namespace om::jni
