// Text conversion: UTF-8 (also the stand-in's ANSI code page) and UTF-16.
#include <algorithm>
#include <cstring>
#include <vector>

#include "../unicode.h"
#include "../win32.h"
#include "internal.h"
#include "upcase_table.h"

namespace om::standin {

namespace {

// Decodes one UTF-8 sequence at text[i]; returns false for malformed input. With
// `surrogates` the three-byte form of a surrogate code unit (ED A0 80..ED BF BF),
// which names keep for a lone surrogate, decodes to that unit.
bool decodeUtf8(const unsigned char* text, size_t length, size_t& i, char32_t& out, bool surrogates) {
  unsigned char c = text[i];
  int extra;
  char32_t value;
  if (c < 0x80) {
    out = c;
    ++i;
    return true;
  } else if ((c & 0xE0) == 0xC0) {
    extra = 1;
    value = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    extra = 2;
    value = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    extra = 3;
    value = c & 0x07;
  } else {
    return false;
  }
  for (int k = 1; k <= extra; ++k) {
    if (i + k >= length) return false;
    unsigned char cc = text[i + k];
    if ((cc & 0xC0) != 0x80) return false;
    value = (value << 6) | (cc & 0x3F);
  }
  static const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
  if (value < minimum[extra] || value > 0x10FFFF || (!surrogates && value >= 0xD800 && value <= 0xDFFF)) return false;
  i += extra + 1;
  out = value;
  return true;
}

// Both directions report invalid input through `valid`; invalid units become U+FFFD.
std::u16string utf8ToUtf16(const char* text, size_t length, bool& valid) {
  std::u16string out;
  out.reserve(length);
  valid = true;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  for (size_t i = 0; i < length;) {
    char32_t c;
    if (!decodeUtf8(bytes, length, i, c, false)) {
      valid = false;
      c = 0xFFFD;
      ++i;
    }
    appendUtf16(out, c);
  }
  return out;
}

std::string utf16ToUtf8(const char16_t* text, size_t length, bool& valid) {
  std::string out;
  out.reserve(length * 3);
  valid = true;
  for (size_t i = 0; i < length; ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      valid = false;
      c = 0xFFFD;
    }
    appendUtf8(out, c);
  }
  return out;
}

}  // namespace

// ---- names on the host ----
// Reading host bytes as UTF-16: every byte string and every UTF-16 string has
// exactly one counterpart. A position reads as a character (valid UTF-8), as a
// kept lone surrogate (its three-byte form), or as an escaped byte: the unit
// U+DC00 + byte. An escaped byte is written as itself where it reads back as
// itself, else in the three-byte form of its unit; a kept high surrogate
// stands only where no low one follows, so no two units join into a pair.
// What a position reads as depends on what follows it, so both directions
// work from the end.
namespace {

struct Reading {
  char32_t value = 0;  // a character, a kept surrogate or an escaped byte's unit
  size_t length = 0;   // the bytes read
};

bool isLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool isEscapedByte(char32_t c) { return c >= 0xDC80 && c <= 0xDCFF; }
bool standsAlone(const Reading& r) { return r.length == 1 && isEscapedByte(r.value); }

// How the byte `lead` followed by bytes[at..size) reads. `after[i]` is what
// position i reads as, for each i >= at where a reading starts (the only ones
// looked up).
Reading readingOf(unsigned char lead, const unsigned char* bytes, size_t at, size_t size,
                  const std::vector<Reading>& after) {
  const Reading escaped{0xDC00u + lead, 1};
  Reading first;
  for (;;) {
    unsigned char head[4] = {lead};
    size_t have = std::min<size_t>(size - at, 3), length = 0;
    std::memcpy(head + 1, bytes + at, have);
    char32_t c;
    if (!decodeUtf8(head, have + 1, length, c, true)) return escaped;
    size_t next = at + length - 1;
    if (c >= 0xD800 && c <= 0xDBFF && next < size && isLowSurrogate(after[next].value)) return escaped;
    if (first.length == 0) first = {c, length};
    if (!isEscapedByte(c)) return first;
    // The three-byte form of an escaped byte stands where the byte itself would read as more.
    lead = static_cast<unsigned char>(c);
    at = next;
  }
}

}  // namespace

std::u16string widen(const std::string& bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t size = bytes.size();
  std::vector<Reading> readings(size);
  for (size_t i = size; i-- > 0;) readings[i] = readingOf(b[i], b, i + 1, size, readings);
  std::u16string out;
  out.reserve(size);
  for (size_t i = 0; i < size; i += readings[i].length) appendUtf16(out, readings[i].value);
  return out;
}

std::string narrow(const std::u16string& text) {
  std::vector<unsigned char> out(text.size() * 3);
  std::vector<Reading> readings(out.size());
  size_t at = out.size();
  for (size_t i = text.size(); i-- > 0;) {
    char32_t c = text[i];
    if (isLowSurrogate(c) && i > 0 && text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF)
      c = 0x10000 + ((text[--i] - 0xD800) << 10) + (c - 0xDC00);
    std::string bytes;
    if (isEscapedByte(c) && standsAlone(readingOf(static_cast<unsigned char>(c), out.data(), at, out.size(), readings)))
      bytes.push_back(static_cast<char>(c));
    else
      appendUtf8(bytes, c);
    at -= bytes.size();
    std::memcpy(&out[at], bytes.data(), bytes.size());
    readings[at] = {c, bytes.size()};
  }
  return std::string(out.begin() + static_cast<std::ptrdiff_t>(at), out.end());
}

std::string narrow(const WCHAR* utf16) { return utf16 ? narrow(std::u16string(utf16)) : std::string(); }

template <class Char>
static DWORD copyOutImpl(const std::basic_string<Char>& text, Char* buffer, DWORD size) {
  if (!buffer || size <= text.size()) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(Char));
  return static_cast<DWORD>(text.size());
}

DWORD copyOut(const std::string& text, char* buffer, DWORD size) { return copyOutImpl(text, buffer, size); }
DWORD copyOut(const std::u16string& text, WCHAR* buffer, DWORD size) { return copyOutImpl(text, buffer, size); }

std::string toLowerAscii(std::string text) {
  for (auto& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && toLowerAscii(a) == toLowerAscii(b);
}

char16_t upcase(char16_t c) {
  // The last run that starts at or below c.
  const UpcaseRun* end = kUpcaseRuns + kUpcaseRunCount;
  const UpcaseRun* run = std::upper_bound(kUpcaseRuns, end, c, [](char16_t unit, const UpcaseRun& r) {
    return unit < r.first;
  });
  if (run == kUpcaseRuns) return c;
  --run;
  if (c > run->last || (c - run->first) % run->step != 0) return c;
  return static_cast<char16_t>(c + run->offset);
}

bool sameName(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::u16string x = widen(a), y = widen(b);
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i)
    if (upcase(x[i]) != upcase(y[i])) return false;
  return true;
}

std::string caseFolded(const std::string& name) {
  std::u16string units = widen(name);
  for (auto& unit : units) unit = upcase(unit);
  return toLowerAscii(narrow(units));
}

}  // namespace om::standin

using namespace om::standin;

UINT WINAPI GetACP(void) { return CP_UTF8; }

int WINAPI lstrlenW(LPCWSTR text) { return text ? static_cast<int>(std::u16string(text).size()) : 0; }

static bool knownCodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_UTF8;
}

// The end of both conversions: the converted length for a size query (room 0),
// else the text copied into the caller's units, or ERROR_INSUFFICIENT_BUFFER.
template <class Text>
static int convertedOut(const Text& out, typename Text::value_type* buffer, int room) {
  if (room == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(room)) {
    fail(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, out.data(), out.size() * sizeof(typename Text::value_type));
  return static_cast<int>(out.size());
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide, int wideLength) {
  if (!knownCodePage(codePage) || !text || length == 0 || wideLength < 0 || (wideLength > 0 && !wide) ||
      (flags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS))) {
    fail(!knownCodePage(codePage) || (flags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) ? ERROR_INVALID_FLAGS
                                                                                         : ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = length < 0 ? std::strlen(text) + 1 : static_cast<size_t>(length);
  bool valid;
  std::u16string out = utf8ToUtf16(text, n, valid);
  if (!valid && (flags & MB_ERR_INVALID_CHARS)) {
    fail(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  return convertedOut(out, wide, wideLength);
}

// Every code page here is UTF-8, which has a form for every character: as
// Windows does for UTF-8, it takes no flag but WC_ERR_INVALID_CHARS and no
// default character.
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR text, int length,
                               LPCSTR defaultChar, LPBOOL usedDefaultChar) {
  if (!knownCodePage(codePage) || (flags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS))) {
    fail(ERROR_INVALID_FLAGS);
    return 0;
  }
  if (!wide || wideLength == 0 || length < 0 || (length > 0 && !text) || defaultChar || usedDefaultChar) {
    fail(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = wideLength < 0 ? std::u16string(wide).size() + 1 : static_cast<size_t>(wideLength);
  bool valid;
  std::string out = utf16ToUtf8(wide, n, valid);
  if (!valid && (flags & WC_ERR_INVALID_CHARS)) {
    fail(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  return convertedOut(out, text, length);
}
