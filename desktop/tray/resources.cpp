#include "tray/resources.h"

#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <vector>

#include "framework/strutils.h"
#include "tray/tray_platform.h"

namespace om {

namespace {

// Indexed by primary language number 0..121.
const char* const kLanguageCodes[122] = {
    "",   "ar", "bg", "ca", "zh", "cs", "da", "de", "el", "en", "es", "fi", "fr", "he", "hu", "is",
    "it", "ja", "ko", "nl", "no", "pl", "pt", "rm", "ro", "ru", "hr", "sk", "sq", "sv", "th", "tr",
    "ur", "id", "uk", "be", "sl", "et", "lv", "lt", "tg", "fa", "vi", "hy", "az", "eu", "",   "mk",
    "",   "ts", "",   "",   "xh", "zu", "af", "ka", "fo", "hi", "mt", "",   "ga", "yi", "ms", "kk",
    "ky", "sw", "tk", "uz", "tt", "bn", "pa", "gu", "or", "ta", "te", "kn", "ml", "as", "mr", "sa",
    "mn", "bo", "cy", "km", "lo", "my", "gl", "",   "",   "sd", "",   "si", "",   "iu", "am", "",
    "ks", "ne", "fy", "ps", "tl", "",   "",   "",   "ha", "",   "yo", "",   "",   "",   "",   "",
    "",   "",   "om", "ti", "gn", "",   "la", "so", "",   "",
};

std::string RunnerBaseName() { return ProgramFolder() + kPathDelim + "resource.properties"; }
std::string BrandBaseName() { return ProgramFolder() + kPathDelim + "brand" + kPathDelim + "brand.properties"; }

std::unique_ptr<TRunnerResourceFile> gRunner;
std::unique_ptr<TRunnerResourceFile> gBrand;

}  // namespace

std::string LanguageCodeFromTable(uint16_t langId) {
  unsigned index = langId & 0xFF;
  if (index > 121) throw ELanguageCodeError("LangID > number of language codes");
  return kLanguageCodes[index];
}

TResourceFile::TResourceFile(const std::string& fileName) : FFileName(fileName) {
  FEntries.SetCaseSensitive(true);
  Load();
}

TResourceFile::TResourceFile(const std::string& fileName, TDeferLoad) : FFileName(fileName) {
  FEntries.SetCaseSensitive(true);
}

void TResourceFile::Load() {
  LoadBaseFile();
  LoadOverlayFile();
  // Sorted only now, after every replacement. Of a key held twice, the line
  // that sorts first (the lower value) is the one found.
  FEntries.SetDuplicates(dupAccept);
  FEntries.SetSorted(true);
}

std::string TResourceFile::LanguageCode(uint16_t langId) { return LanguageCodeFromTable(langId); }

std::string TResourceFile::OverlayFileName() {
  try {
    std::string ext = ExtractFileExt(FFileName);
    std::string stem = FFileName.substr(0, FFileName.size() - ext.size());
    std::string code = LanguageCode(UserDefaultLangID());
    // The code comes from a settings file: it names a file beside the base one or none.
    if (code.find_first_of(std::string("\\/:\0", 4)) != std::string::npos) return std::string();
    return stem + "_" + code + ext;
  } catch (const std::exception&) {
    return std::string();
  }
}

void TResourceFile::LoadBaseFile() {
  try {
    if (FileExists(FFileName)) FEntries.LoadFromFile(FFileName);
  } catch (const std::exception&) {
    // An unreadable base file leaves the set empty.
  }
}

void TResourceFile::LoadOverlayFile() {
  try {
    std::string overlay = OverlayFileName();
    if (overlay.empty() || !FileExists(overlay)) return;
    TStringList lines;
    lines.LoadFromFile(overlay);
    // Base entries by name; a name held twice has every copy replaced, so the
    // translation shows whichever copy a lookup finds.
    std::unordered_map<std::string, std::vector<int>> byName;
    for (int i = 0; i < FEntries.Count(); ++i) {
      size_t eq = FEntries[i].find('=');
      if (eq != std::string::npos) byName[FEntries[i].substr(0, eq)].push_back(i);
    }
    bool first = true;
    for (std::string line : lines.Items()) {
      // An editor's UTF-8 signature is not part of the first name.
      if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
      first = false;
      // A line without "=" holds no text: replacing an entry with it would lose the key.
      size_t eq = line.find('=');
      if (Trim(line).empty() || eq == std::string::npos) continue;
      auto found = byName.find(line.substr(0, eq));
      if (found == byName.end()) continue;
      // The name stays as matched; only the text is decoded ("?" in a name would lose the key).
      std::string entry = found->first + "=" + Utf8ToAnsi(line.substr(eq + 1));
      for (int index : found->second) FEntries.Put(index, entry);
    }
  } catch (const std::exception&) {
    // Missing or unreadable overlay: the base texts stand.
  }
}

std::string FormatText(const std::string& format, std::initializer_list<TFormatArg> args) {
  std::vector<const TFormatArg*> list;
  for (const TFormatArg& a : args) list.push_back(&a);
  size_t next = 0;
  std::string out;
  auto invalid = [&]() {
    return EConvertError("Format '" + format + "' invalid or incompatible with argument");
  };
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%') {
      out += c;
      continue;
    }
    size_t start = i++;
    if (i < format.size() && format[i] == '%') {
      out += '%';
      continue;
    }
    std::string spec = "%";
    if (i < format.size() && format[i] == '-') spec += format[i++];
    int digits = 0;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9' && digits < 4) spec += format[i++], ++digits;
    if (i < format.size() && format[i] == '.') {
      spec += format[i++];
      digits = 0;
      while (i < format.size() && format[i] >= '0' && format[i] <= '9' && digits < 4) spec += format[i++], ++digits;
    }
    if (i >= format.size()) throw invalid();
    char conv = format[i];
    if (next >= list.size()) throw invalid();
    const TFormatArg& a = *list[next++];
    char buf[512];
    switch (conv) {
      case 's': case 'S':
        if (a.Kind != TFormatArg::fkString) throw invalid();
        {
          // Width and precision applied by hand: the text may be longer than any buffer.
          std::string text = a.Str;
          size_t dot = spec.find('.');
          if (dot != std::string::npos) {
            size_t prec = static_cast<size_t>(std::atoi(spec.c_str() + dot + 1));
            if (text.size() > prec) text.resize(prec);
          }
          bool left = spec.size() > 1 && spec[1] == '-';
          size_t width = static_cast<size_t>(std::atoi(spec.c_str() + (left ? 2 : 1)));
          if (text.size() < width) {
            std::string pad(width - text.size(), ' ');
            text = left ? text + pad : pad + text;
          }
          out += text;
        }
        break;
      case 'd': case 'D': case 'u': case 'U': case 'x': case 'X':
        if (a.Kind != TFormatArg::fkInteger) throw invalid();
        spec += "ll";
        spec += conv == 'D' ? 'd' : conv == 'U' ? 'u' : conv;
        std::snprintf(buf, sizeof buf, spec.c_str(), static_cast<long long>(a.Int));
        out += buf;
        break;
      case 'f': case 'F': case 'g': case 'G': case 'e': case 'E':
        if (a.Kind != TFormatArg::fkFloat) throw invalid();
        spec += static_cast<char>(conv | 0x20);
        std::snprintf(buf, sizeof buf, spec.c_str(), a.Float);
        out += buf;
        break;
      default:
        (void)start;
        throw invalid();
    }
  }
  return out;
}

std::string TResourceFile::GetStringFmt(const std::string& key, std::initializer_list<TFormatArg> args) const {
  return FormatText(GetString(key), args);
}

std::string GetResourceStringFmt(const std::string& key, std::initializer_list<TFormatArg> args) {
  return RunnerResources().GetStringFmt(key, args);
}

std::string TResourceFile::GetString(const std::string& key) const {
  if (key.find('=') != std::string::npos) return kMissingResourceEntry + key;
  // Sorted and case-sensitive: the first entry named key is the first entry
  // not below key + "=" whose name is key.
  int index;
  FEntries.Find(key + "=", index);
  if (index < FEntries.Count()) {
    const std::string& entry = FEntries[index];
    if (entry.size() > key.size() && entry.compare(0, key.size(), key) == 0 && entry[key.size()] == '=')
      return entry.substr(key.size() + 1);
  }
  return kMissingResourceEntry + key;
}

TRunnerResourceFile::TRunnerResourceFile(const std::string& fileName) : TResourceFile(fileName, TDeferLoad{}) {
  Load();
}

std::string TRunnerResourceFile::LanguageCode(uint16_t langId) {
  try {
    std::string path = ProgramFolder() + kPathDelim + "ombackup.properties";
    if (FileExists(path)) {
      TStringList lines;
      lines.LoadFromFile(path);
      TStringList decoded;
      for (const std::string& l : lines.Items()) decoded.Add(Utf8ToAnsi(l));
      int index = decoded.IndexOfName("locale.lang.code");
      if (index >= 0) return decoded.ValueFromIndex(index);
    }
  } catch (const std::exception&) {
  }
  return TResourceFile::LanguageCode(langId);
}

TRunnerResourceFile& RunnerResources() {
  if (!gRunner) gRunner = std::make_unique<TRunnerResourceFile>(RunnerBaseName());
  return *gRunner;
}

TRunnerResourceFile& BrandResources() {
  if (!gBrand) gBrand = std::make_unique<TRunnerResourceFile>(BrandBaseName());
  return *gBrand;
}

void InitResources() {
  RunnerResources();
  BrandResources();
}

void FreeResources() {
  gRunner.reset();
  gBrand.reset();
}

std::string GetResourceString(const std::string& key) { return RunnerResources().GetString(key); }
std::string GetSecondaryResourceString(const std::string& key) { return BrandResources().GetString(key); }

void LoadRunnerResources() { gRunner = std::make_unique<TRunnerResourceFile>(RunnerBaseName()); }

std::string GetLanguageCode() { return RunnerResources().LanguageCode(UserDefaultLangID()); }

}  // namespace om
