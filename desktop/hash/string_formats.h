// String formats: bytes to text and back (copy, hexadecimal, MIME base 64,
// UU and XX coding), registered in a process-wide list by number.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/exceptions.h"

namespace om {

class EStringFormat : public Exception {
public:
  using Exception::Exception;
};

constexpr int fmtCOPY = 1;
constexpr int fmtHEX = 16;
constexpr int fmtHEXL = 1016;
constexpr int fmtMIME64 = 4196;
constexpr int fmtUU = 21845;
constexpr int fmtXX = 22616;
constexpr int fmtDEFAULT = -1;

// Format classes hold no data; one constant instance of each stands for the
// class, and its virtual methods are the class-level operations.
class TStringFormat {
public:
  virtual ~TStringFormat() = default;
  virtual const char* ClassName() const { return "TStringFormat"; }
  virtual std::string TextToBytes(const char* text, int64_t length) const;
  virtual std::string BytesToText(const char* data, int64_t length) const;
  virtual std::string DisplayName() const;
  virtual int FormatId() const { return fmtCOPY; }
  virtual bool Accepts(const char* input, int64_t length, bool decoding) const { return true; }

  static const TStringFormat Class;
};
using TStringFormatClass = const TStringFormat*;

class TStringFormat_HEX : public TStringFormat {
public:
  const char* ClassName() const override { return "TStringFormat_HEX"; }
  std::string TextToBytes(const char* text, int64_t length) const override;
  std::string BytesToText(const char* data, int64_t length) const override;
  std::string DisplayName() const override { return "Hexadecimal"; }
  int FormatId() const override { return fmtHEX; }
  bool Accepts(const char* input, int64_t length, bool decoding) const override;
  virtual const char* Alphabet() const;
  int AlphabetLength() const;

  static const TStringFormat_HEX Class;
};

class TStringFormat_HEXL : public TStringFormat_HEX {
public:
  const char* ClassName() const override { return "TStringFormat_HEXL"; }
  std::string DisplayName() const override { return "Hexadecimal lowercase"; }
  int FormatId() const override { return fmtHEXL; }
  const char* Alphabet() const override;

  static const TStringFormat_HEXL Class;
};

class TStringFormat_MIME64 : public TStringFormat_HEX {
public:
  const char* ClassName() const override { return "TStringFormat_MIME64"; }
  std::string TextToBytes(const char* text, int64_t length) const override;
  std::string BytesToText(const char* data, int64_t length) const override;
  std::string DisplayName() const override { return "MIME Base 64"; }
  int FormatId() const override { return fmtMIME64; }
  const char* Alphabet() const override;

  static const TStringFormat_MIME64 Class;
};

class TStringFormat_UU : public TStringFormat {
public:
  const char* ClassName() const override { return "TStringFormat_UU"; }
  std::string TextToBytes(const char* text, int64_t length) const override;
  std::string BytesToText(const char* data, int64_t length) const override;
  std::string DisplayName() const override { return "UU Coding"; }
  int FormatId() const override { return fmtUU; }
  bool Accepts(const char* input, int64_t length, bool decoding) const override;
  virtual const char* Alphabet() const;
  int AlphabetLength() const;

  static const TStringFormat_UU Class;
};

class TStringFormat_XX : public TStringFormat_UU {
public:
  const char* ClassName() const override { return "TStringFormat_XX"; }
  std::string DisplayName() const override { return "XX Coding"; }
  int FormatId() const override { return fmtXX; }
  const char* Alphabet() const override;

  static const TStringFormat_XX Class;
};

// Name of a format class that gives none of its own: the class name after its first "_".
std::string FormatNameFromClass(TStringFormatClass cls);

// Index of c among the first n characters of table, -1 when absent.
int FindCharIndex(char c, const char* table, int n);

void RegisterStringFormats(const std::vector<TStringFormatClass>& classes);
TStringFormatClass FindStringFormat(int id);
const std::vector<TStringFormatClass>& StringFormatList();

// length below 0: data is zero-terminated.
std::string BytesToFormatText(const void* data, int64_t length, int id);
std::string FormatTextToBytes(const void* text, int64_t length, int id);
inline std::string BytesToFormatText(const std::string& data, int id) {
  return BytesToFormatText(data.data(), static_cast<int64_t>(data.size()), id);
}
inline std::string FormatTextToBytes(const std::string& text, int id) {
  return FormatTextToBytes(text.data(), static_cast<int64_t>(text.size()), id);
}

}  // namespace om
