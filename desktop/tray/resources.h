// Message resources of the tray monitor: a base file of name=value lines (ANSI,
// read as it is) with a per-language overlay (UTF-8) beside it, looked up by key.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "framework/exceptions.h"
#include "framework/object.h"
#include "framework/stringlist.h"

#include <initializer_list>

namespace om {

// A language identifier beyond the language-code table.
class ELanguageCodeError : public Exception {
public:
  using Exception::Exception;
};

// One argument of a resource text's placeholders.
struct TFormatArg {
  enum TKind { fkInteger, fkFloat, fkString } Kind;
  int64_t Int = 0;
  double Float = 0;
  std::string Str;
  TFormatArg(int v) : Kind(fkInteger), Int(v) {}                  // NOLINT: implicit on purpose
  TFormatArg(unsigned v) : Kind(fkInteger), Int(v) {}             // NOLINT
  TFormatArg(long long v) : Kind(fkInteger), Int(v) {}            // NOLINT
  TFormatArg(double v) : Kind(fkFloat), Float(v) {}               // NOLINT
  TFormatArg(const char* v) : Kind(fkString), Str(v ? v : "") {}  // NOLINT
  TFormatArg(std::string v) : Kind(fkString), Str(std::move(v)) {}  // NOLINT
};

// Formats %s, %d, %u, %x, %X, %f, %g, %e and %% (with "-", width and precision)
// from args in order. A placeholder without an argument, or of the wrong kind,
// raises EConvertError; the text comes from files, so it is never trusted.
std::string FormatText(const std::string& format, std::initializer_list<TFormatArg> args);

constexpr char kMissingResourceEntry[] = "!!MISSING RESOURCE ENTRY: ";

// Two-letter code of the primary language (low byte of langId); "" for the
// table's empty entries. Raises ELanguageCodeError above 121.
std::string LanguageCodeFromTable(uint16_t langId);

class TResourceFile : public TObject {
public:
  // Loads the base file (when it exists), applies the overlay, sorts.
  explicit TResourceFile(const std::string& fileName);

  virtual std::string LanguageCode(uint16_t langId);
  std::string OverlayFileName();
  std::string GetString(const std::string& key) const;
  // GetString, then formatted with args; raises EConvertError when the text's
  // placeholders do not fit the arguments.
  std::string GetStringFmt(const std::string& key, std::initializer_list<TFormatArg> args) const;

  const TStringList& Entries() const { return FEntries; }
  const std::string& FileName() const { return FFileName; }

protected:
  struct TDeferLoad {};
  // For subclasses whose LanguageCode must take part in the loading: they call
  // Load at the end of their own constructor.
  TResourceFile(const std::string& fileName, TDeferLoad);
  void Load();
  void LoadBaseFile();
  void LoadOverlayFile();

private:
  TStringList FEntries;
  std::string FFileName;
};

// Takes the language from "locale.lang.code" of ombackup.properties in the
// program folder when it is set there.
class TRunnerResourceFile : public TResourceFile {
public:
  explicit TRunnerResourceFile(const std::string& fileName);
  std::string LanguageCode(uint16_t langId) override;
};

// The two process-wide resource sets.
TRunnerResourceFile& RunnerResources();  // program folder + "resource.properties"
TRunnerResourceFile& BrandResources();   // program folder + "brand\brand.properties"
// Creates both sets (program start); FreeResources releases them (program end).
void InitResources();
void FreeResources();

std::string GetResourceString(const std::string& key);
std::string GetResourceStringFmt(const std::string& key, std::initializer_list<TFormatArg> args);
std::string GetSecondaryResourceString(const std::string& key);
// Creates RunnerResources again (after the language setting changed).
void LoadRunnerResources();
// LanguageCode of RunnerResources for the user's default language; raises
// ELanguageCodeError "LangID > number of language codes".
std::string GetLanguageCode();

}  // namespace om
