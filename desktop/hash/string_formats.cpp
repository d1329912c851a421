#include "hash/string_formats.h"

#include <cstring>

#include "framework/strutils.h"
#include "hash/hash_support.h"

namespace om {

namespace {

const char kHexTable[] =
    "0123456789ABCDEF"
    "X$"
    " abcdefhHx()[]{},;:-_/\\*+\"'\t\n\r";
const char kHexLTable[] =
    "0123456789abcdef"
    "X$"
    " ABCDEFhHx()[]{},;:-_/\\*+\"'\t\n\r";
const char kMime64Table[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
    "="
    " $()[]{},;:-_\\*\"'\t\n\r";
const char kUUTable[] =
    "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_"
    " \t\n\r";
const char kXXTable[] =
    "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
    " \"()[]'\t\n\r";

static_assert(sizeof(kHexTable) - 1 == 48, "HEX table");
static_assert(sizeof(kHexLTable) - 1 == 48, "HEXL table");
static_assert(sizeof(kMime64Table) - 1 == 85, "MIME64 table");
static_assert(sizeof(kUUTable) - 1 == 68, "UU table");
static_assert(sizeof(kXXTable) - 1 == 74, "XX table");

const int kUULineBytes = 45;

// Every byte of input occurs among the first n characters of table.
bool AllInTable(const char* input, int64_t length, const char* table, int n) {
  for (int64_t i = 0; i < length; ++i)
    if (FindCharIndex(input[i], table, n) < 0) return false;
  return true;
}

std::vector<TStringFormatClass>*& FormatList() {
  static std::vector<TStringFormatClass>* list = nullptr;
  return list;
}

// Start-up runs with the first use of this unit at the latest.
struct TFormatsUnitInit {
  TFormatsUnitInit() { HashLibraryStartup(); }
} gFormatsUnitInit;

}  // namespace

const TStringFormat TStringFormat::Class;
const TStringFormat_HEX TStringFormat_HEX::Class;
const TStringFormat_HEXL TStringFormat_HEXL::Class;
const TStringFormat_MIME64 TStringFormat_MIME64::Class;
const TStringFormat_UU TStringFormat_UU::Class;
const TStringFormat_XX TStringFormat_XX::Class;

int FindCharIndex(char c, const char* table, int n) {
  for (int i = 0; i < n; ++i)
    if (table[i] == c) return i;
  return -1;
}

std::string FormatNameFromClass(TStringFormatClass cls) {
  std::string name = cls->ClassName();
  size_t p = name.find('_');
  return p == std::string::npos ? name : name.substr(p + 1);
}

// --- copy ------------------------------------------------------------------

std::string TStringFormat::TextToBytes(const char* text, int64_t length) const {
  return std::string(text, static_cast<size_t>(length));
}

std::string TStringFormat::BytesToText(const char* data, int64_t length) const {
  return std::string(data, static_cast<size_t>(length));
}

std::string TStringFormat::DisplayName() const { return "copy Input to Output"; }

// --- hexadecimal -----------------------------------------------------------

const char* TStringFormat_HEX::Alphabet() const { return kHexTable; }
const char* TStringFormat_HEXL::Alphabet() const { return kHexLTable; }
int TStringFormat_HEX::AlphabetLength() const { return static_cast<int>(std::strlen(Alphabet())); }

bool TStringFormat_HEX::Accepts(const char* input, int64_t length, bool decoding) const {
  return !decoding || AllInTable(input, length, Alphabet(), AlphabetLength());
}

std::string TStringFormat_HEX::BytesToText(const char* data, int64_t length) const {
  const char* digits = Alphabet();
  std::string out(static_cast<size_t>(length) * 2, '\0');
  for (int64_t i = 0; i < length; ++i) {
    uint8_t b = static_cast<uint8_t>(data[i]);
    out[2 * i] = digits[b >> 4];
    out[2 * i + 1] = digits[b & 15];
  }
  return out;
}

std::string TStringFormat_HEX::TextToBytes(const char* text, int64_t length) const {
  std::string out;
  out.reserve(static_cast<size_t>(length / 2 + 1));
  bool marker = false;
  int64_t digitCount = 0;
  uint8_t high = 0;
  for (int64_t i = 0; i < length; ++i) {
    char c = text[i];
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c == 'X' || c == 'x' || c == '$') {
      if (!marker) {
        marker = true;
        out.clear();
        digitCount = 0;
      }
      continue;
    } else {
      continue;  // separators and anything else
    }
    if (digitCount % 2 == 0) {
      high = static_cast<uint8_t>(v << 4);
    } else {
      out.push_back(static_cast<char>(high | v));
    }
    ++digitCount;
  }
  return out;
}

// --- MIME base 64 ----------------------------------------------------------

const char* TStringFormat_MIME64::Alphabet() const { return kMime64Table; }

std::string TStringFormat_MIME64::BytesToText(const char* data, int64_t length) const {
  const char* t = kMime64Table;
  int64_t groups = (length + 2) / 3;
  std::string out(static_cast<size_t>(groups) * 4, '\0');
  const auto* p = reinterpret_cast<const uint8_t*>(data);
  char* o = &out[0];
  int64_t i = 0;
  for (; i + 3 <= length; i += 3, o += 4) {
    uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8) | p[i + 2];
    o[0] = t[v >> 18];
    o[1] = t[(v >> 12) & 63];
    o[2] = t[(v >> 6) & 63];
    o[3] = t[v & 63];
  }
  if (i < length) {
    int64_t rest = length - i;
    uint32_t v = uint32_t(p[i]) << 16;
    if (rest == 2) v |= uint32_t(p[i + 1]) << 8;
    o[0] = t[v >> 18];
    o[1] = t[(v >> 12) & 63];
    o[2] = rest == 2 ? t[(v >> 6) & 63] : '=';
    o[3] = '=';
  }
  return out;
}

// Only the 64 code characters and the pad count; the counted characters are
// read in groups of four (a short last group is padded), each group giving
// three bytes less one per pad in it, never fewer than none.
std::string TStringFormat_MIME64::TextToBytes(const char* text, int64_t length) const {
  std::string out;
  out.reserve(static_cast<size_t>((length / 4 + 1) * 3));
  uint32_t bits = 0;
  int inGroup = 0, pads = 0;
  auto flush = [&]() {
    for (; inGroup < 4; ++inGroup) { bits <<= 6; ++pads; }
    int n = 3 - pads;
    if (n > 0) out.push_back(static_cast<char>(bits >> 16));
    if (n > 1) out.push_back(static_cast<char>(bits >> 8));
    if (n > 2) out.push_back(static_cast<char>(bits));
    bits = 0;
    inGroup = 0;
    pads = 0;
  };
  for (int64_t i = 0; i < length; ++i) {
    int v = FindCharIndex(text[i], kMime64Table, 65);
    if (v < 0) continue;
    bits <<= 6;
    if (v == 64) ++pads;
    else bits |= static_cast<uint32_t>(v);
    if (++inGroup == 4) flush();
  }
  if (inGroup > 0) flush();
  return out;
}

// --- UU and XX coding ------------------------------------------------------

const char* TStringFormat_UU::Alphabet() const { return kUUTable; }
const char* TStringFormat_XX::Alphabet() const { return kXXTable; }
int TStringFormat_UU::AlphabetLength() const { return static_cast<int>(std::strlen(Alphabet())); }

std::string TStringFormat_UU::BytesToText(const char* data, int64_t length) const {
  const char* t = Alphabet();
  const auto* p = reinterpret_cast<const uint8_t*>(data);
  std::string out;
  out.reserve(static_cast<size_t>(length * 4 / 3 + length / kUULineBytes + 10));
  for (int64_t pos = 0; pos < length;) {
    int n = static_cast<int>(length - pos < kUULineBytes ? length - pos : kUULineBytes);
    out.push_back(t[n]);
    for (int i = 0; i < n; i += 3) {
      uint32_t v = uint32_t(p[pos + i]) << 16;
      if (i + 1 < n) v |= uint32_t(p[pos + i + 1]) << 8;
      if (i + 2 < n) v |= p[pos + i + 2];
      out.push_back(t[v >> 18]);
      out.push_back(t[(v >> 12) & 63]);
      out.push_back(t[(v >> 6) & 63]);
      out.push_back(t[v & 63]);
    }
    pos += n;
  }
  return out;
}

bool TStringFormat_UU::Accepts(const char* input, int64_t length, bool decoding) const {
  if (!decoding) return true;
  const char* t = Alphabet();
  int n = AlphabetLength();
  int64_t outstanding = 0;
  for (int64_t i = 0; i < length; ++i) {
    int idx = FindCharIndex(input[i], t, n);
    if (idx < 0) return false;
    if (outstanding == 0) {
      if (idx > kUULineBytes) return false;
      outstanding = (idx * 4 + 2) / 3;
    } else if (idx < 64) {
      --outstanding;
    }
  }
  return outstanding == 0;
}

// Decodes line by line, reading each line as Accepts does: the length
// character announces (n*4+2)/3 code characters, which carry the n bytes;
// the zero fill characters of a short last group then read as empty lines.
// Every read is checked against the end of the text; a line cut short is refused.
std::string TStringFormat_UU::TextToBytes(const char* text, int64_t length) const {
  const char* t = Alphabet();
  std::string out;
  out.reserve(static_cast<size_t>(length / 4 * 3 + 3));
  auto refuse = [this]() {
    return EStringFormat(Format("Input is not an valid %s Format.", DisplayName().c_str()));
  };
  int64_t pos = 0;
  while (pos < length) {
    int n = FindCharIndex(text[pos++], t, 64);
    if (n < 0 || n > kUULineBytes) throw refuse();
    int chars = (n * 4 + 2) / 3;
    uint32_t bits = 0;
    int bitCount = 0;
    while (chars > 0) {
      if (pos >= length) throw refuse();
      int idx = FindCharIndex(text[pos++], t, 64);
      if (idx < 0) continue;  // separators inside a line
      bits = (bits << 6) | static_cast<uint32_t>(idx);
      bitCount += 6;
      --chars;
      if (bitCount >= 8 && n > 0) {
        bitCount -= 8;
        out.push_back(static_cast<char>(bits >> bitCount));
        bits &= (1u << bitCount) - 1;
        --n;
      }
    }
  }
  return out;
}

// --- format list -----------------------------------------------------------

void RegisterStringFormats(const std::vector<TStringFormatClass>& classes) {
  auto*& list = FormatList();
  if (!list) list = new std::vector<TStringFormatClass>;
  for (TStringFormatClass cls : classes) {
    if (!cls || cls->FormatId() == -1) continue;
    bool replaced = false;
    for (auto& entry : *list) {
      if (entry->FormatId() == cls->FormatId()) {
        entry = cls;
        replaced = true;
        break;
      }
    }
    if (!replaced) list->push_back(cls);
  }
}

const std::vector<TStringFormatClass>& StringFormatList() {
  HashLibraryStartup();
  static const std::vector<TStringFormatClass> empty;
  return FormatList() ? *FormatList() : empty;
}

TStringFormatClass FindStringFormat(int id) {
  if (id == -1) id = GetDefaultFormatId();
  for (TStringFormatClass cls : StringFormatList())
    if (cls->FormatId() == id) return cls;
  return nullptr;
}

void DestroyStringFormatList() {
  delete FormatList();
  FormatList() = nullptr;
}

namespace {

// Both directions: nothing for no data, format 0 or an empty input; a number
// that is not registered and input the format refuses raise EStringFormat.
std::string ConvertFormat(const void* data, int64_t length, int id, bool decoding) {
  if (!data || id == 0) return std::string();
  const char* p = static_cast<const char*>(data);
  if (length < 0) length = static_cast<int64_t>(std::strlen(p));
  if (length <= 0) return std::string();
  TStringFormatClass fmt = FindStringFormat(id);
  if (!fmt) throw EStringFormat(Format("String Format \"%d\" not exists.", id));
  if (!fmt->Accepts(p, length, decoding)) {
    const std::string name = fmt->DisplayName();
    throw EStringFormat(decoding ? Format("Input is not an valid %s Format.", name.c_str())
                                 : Format("Input can not be convert to %s Format.", name.c_str()));
  }
  return decoding ? fmt->TextToBytes(p, length) : fmt->BytesToText(p, length);
}

}  // namespace

std::string BytesToFormatText(const void* data, int64_t length, int id) {
  return ConvertFormat(data, length, id, false);
}

std::string FormatTextToBytes(const void* text, int64_t length, int id) {
  return ConvertFormat(text, length, id, true);
}

}  // namespace om
