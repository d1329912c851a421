// Texts, GUIDs, the fixture format, the call log and the snapshot copies.
#include "model.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#ifndef _WIN32
#include <unistd.h>

#include "platform/posix/internal.h"
#endif

namespace fs = std::filesystem;

namespace vssstandin {

// ---- texts and GUIDs ---------------------------------------------------------------

Text widen(const std::string& utf8) {
  if (utf8.empty()) return Text();
  int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  Text out(static_cast<size_t>(length > 0 ? length : 0), 0);
  if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], length);
  return out;
}

std::string narrow(const Text& text) {
  if (text.empty()) return std::string();
  int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
  std::string out(static_cast<size_t>(length > 0 ? length : 0), '\0');
  if (length > 0)
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], length, nullptr, nullptr);
  return out;
}

std::string narrow(const WCHAR* text) { return text ? "\"" + narrow(Text(text)) + "\"" : "null"; }

OptText optional(const WCHAR* text) { return text ? OptText(Text(text)) : OptText(); }

std::string guidText(const GUID& g) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buffer;
}

bool parseGuid(const std::string& text, GUID* guid) {
  if (text.size() != 38 || text[0] != '{' || text[37] != '}') return false;
  std::string hex;
  for (size_t i = 1; i < 37; ++i) {
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    if (!dash) hex += text[i];
  }
  auto part = [&](size_t at, size_t length) { return std::strtoul(hex.substr(at, length).c_str(), nullptr, 16); };
  guid->Data1 = static_cast<uint32_t>(part(0, 8));
  guid->Data2 = static_cast<uint16_t>(part(8, 4));
  guid->Data3 = static_cast<uint16_t>(part(12, 4));
  for (int i = 0; i < 8; ++i) guid->Data4[i] = static_cast<uint8_t>(part(16 + 2 * i, 2));
  return true;
}

bool sameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
bool isNullGuid(const GUID& guid) { return sameGuid(guid, GUID{}); }

GUID newGuid() {
  static std::mutex m;
  static std::mt19937_64 random{std::random_device{}()};
  std::lock_guard<std::mutex> lock(m);
  GUID g;
  uint64_t a = random(), b = random();
  std::memcpy(&g, &a, 8);
  std::memcpy(reinterpret_cast<char*>(&g) + 8, &b, 8);
  g.Data3 = static_cast<uint16_t>((g.Data3 & 0x0FFF) | 0x4000);
  g.Data4[0] = static_cast<uint8_t>((g.Data4[0] & 0x3F) | 0x80);
  return g;
}

BSTR makeBstr(const OptText& text) {
  if (!text) return nullptr;
  return SysAllocStringLen(text->data(), static_cast<UINT>(text->size()));
}

WCHAR* makeTaskText(const Text& text) {
  auto* out = static_cast<WCHAR*>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
  if (!out) return nullptr;
  std::memcpy(out, text.data(), text.size() * sizeof(WCHAR));
  out[text.size()] = 0;
  return out;
}

// ---- entities ------------------------------------------------------------------------

namespace {

struct Entity {
  char c;
  const char* text;
};
// Within a line's field value: the line's own separators, and '&' itself.
const Entity kFieldEntities[] = {{'&', "&amp;"}, {'\t', "&#9;"}, {'\n', "&#10;"}, {'\r', "&#13;"}};
// Within a document: its markup.
const Entity kDocumentEntities[] = {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}};

template <size_t N>
std::string escape(const std::string& text, const Entity (&entities)[N]) {
  std::string out;
  for (char c : text) {
    const Entity* entity = std::find_if(entities, entities + N, [c](const Entity& e) { return e.c == c; });
    if (entity != entities + N)
      out += entity->text;
    else
      out += c;
  }
  return out;
}

// Back from escape(); an '&' that starts none of the entities is refused when
// `strict`, otherwise taken as itself.
template <size_t N>
bool unescape(const std::string& text, const Entity (&entities)[N], bool strict, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    const Entity* entity = entities + N;
    if (text[i] == '&')
      entity = std::find_if(entities, entities + N,
                            [&](const Entity& e) { return text.compare(i, std::strlen(e.text), e.text) == 0; });
    if (entity == entities + N) {
      if (text[i] == '&' && strict) return false;
      *out += text[i];
      continue;
    }
    *out += entity->c;
    i += std::strlen(entity->text) - 1;
  }
  return true;
}

}  // namespace

// ---- lines ---------------------------------------------------------------------------

std::string Line::get(const std::string& key, const std::string& fallback) const {
  auto it = fields.find(key);
  return it == fields.end() ? fallback : it->second;
}

long Line::number(const std::string& key, long fallback) const {
  auto it = fields.find(key);
  if (it == fields.end() || it->second.empty()) return fallback;
  return static_cast<long>(std::strtoll(it->second.c_str(), nullptr, 0));
}

OptText Line::text(const std::string& key) const {
  auto it = fields.find(key);
  if (it == fields.end()) return OptText();
  return widen(it->second);
}

bool parseLine(const std::string& raw, Line* line) {
  line->keyword.clear();
  line->fields.clear();
  std::string text = raw;
  if (!text.empty() && text.back() == '\r') text.pop_back();
  size_t start = 0;
  bool first = true;
  while (start <= text.size()) {
    size_t end = text.find('\t', start);
    if (end == std::string::npos) end = text.size();
    std::string field = text.substr(start, end - start);
    if (first) {
      line->keyword = field;
      first = false;
    } else if (!field.empty()) {
      size_t eq = field.find('=');
      if (eq == std::string::npos || eq == 0) return false;
      unescape(field.substr(eq + 1), kFieldEntities, false, &line->fields[field.substr(0, eq)]);
    }
    start = end + 1;
  }
  return !line->keyword.empty();
}

std::string formatLine(const std::string& keyword, const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string out = keyword;
  for (const auto& field : fields) out += "\t" + field.first + "=" + escape(field.second, kFieldEntities);
  return out;
}

// ---- fixture ---------------------------------------------------------------------------

namespace {

FileSpec fileSpec(const Line& line) {
  FileSpec f;
  f.path = line.text("path");
  f.spec = line.text("spec");
  f.alternate = line.text("alternate");
  f.recursive = line.number("recursive") != 0;
  f.mask = static_cast<DWORD>(line.number("mask", 0xFFFFFFFF));
  return f;
}

bool guidField(const Line& line, const std::string& key, GUID* guid) { return parseGuid(line.get(key), guid); }

// The file lists a line adds to: the writer's own, and those of the writer's last component.
using WriterFiles = std::vector<FileSpec> WriterSpec::*;
using ComponentFiles = std::vector<FileSpec> ComponentSpec::*;
const std::map<std::string, WriterFiles> kWriterFiles = {
    {"include", &WriterSpec::includes}, {"exclude", &WriterSpec::excludes}, {"mapping", &WriterSpec::mappings}};
const std::map<std::string, ComponentFiles> kComponentFiles = {
    {"file", &ComponentSpec::files}, {"database", &ComponentSpec::databases}, {"log", &ComponentSpec::logs}};

}  // namespace

bool parseWriters(const std::string& text, std::vector<WriterSpec>* writers) {
  std::istringstream in(text);
  std::string raw;
  while (std::getline(in, raw)) {
    if (raw.empty() || raw[0] == '#' || raw == "\r") continue;
    Line line;
    if (!parseLine(raw, &line)) return false;
    if (line.keyword == "writer") {
      WriterSpec w;
      if (!guidField(line, "id", &w.writerId) || !guidField(line, "instance", &w.instanceId)) return false;
      w.name = widen(line.get("name"));
      w.usage = static_cast<int>(line.number("usage"));
      w.source = static_cast<int>(line.number("source"));
      w.state = static_cast<int>(line.number("state", 1));
      w.failure = static_cast<HRESULT>(line.number("failure"));
      w.restoreMethod = static_cast<int>(line.number("restore"));
      w.writerRestore = static_cast<int>(line.number("writerRestore"));
      w.service = line.text("service");
      w.userProcedure = line.text("procedure");
      w.reboot = line.number("reboot") != 0;
      w.schema = static_cast<DWORD>(line.number("schema"));
      writers->push_back(std::move(w));
    } else {
      if (writers->empty()) return false;
      WriterSpec& w = writers->back();
      auto writerFiles = kWriterFiles.find(line.keyword);
      if (writerFiles != kWriterFiles.end()) {
        (w.*writerFiles->second).push_back(fileSpec(line));
      } else if (line.keyword == "component") {
        ComponentSpec c;
        c.type = static_cast<int>(line.number("type", 2));
        c.logicalPath = line.text("path");
        c.name = line.text("name");
        c.caption = line.text("caption");
        std::string icon = line.get("icon");
        for (char ch : icon) c.icon.push_back(static_cast<BYTE>(ch));
        c.restoreMetadata = line.number("restoreMetadata") != 0;
        c.notify = line.number("notify") != 0;
        c.selectable = line.number("selectable") != 0;
        c.selectableForRestore = line.number("selectableForRestore") != 0;
        c.flags = static_cast<DWORD>(line.number("flags"));
        w.components.push_back(std::move(c));
      } else {
        if (w.components.empty()) return false;
        ComponentSpec& c = w.components.back();
        auto componentFiles = kComponentFiles.find(line.keyword);
        if (componentFiles != kComponentFiles.end()) {
          (c.*componentFiles->second).push_back(fileSpec(line));
        } else if (line.keyword == "dependency") {
          DependencySpec d;
          if (!guidField(line, "writer", &d.writer)) return false;
          d.logicalPath = line.text("path");
          d.name = line.text("name");
          c.dependencies.push_back(std::move(d));
        } else {
          return false;
        }
      }
    }
    writers->back().lines.push_back(raw.back() == '\r' ? raw.substr(0, raw.size() - 1) : raw);
  }
  return true;
}

std::vector<WriterSpec> fixtureWriters() {
  std::vector<WriterSpec> writers;
#ifdef _WIN32
  WCHAR name[1024] = {};
  DWORD length = GetEnvironmentVariableW(L"OM_VSS_FIXTURE", name, 1024);
  if (!length || length >= 1024) return writers;
  std::FILE* file = _wfopen(name, L"rb");
#else
  const char* name = std::getenv("OM_VSS_FIXTURE");
  if (!name || !*name) return writers;
  std::FILE* file = std::fopen(name, "rb");
#endif
  if (!file) return writers;
  std::string text;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  std::fclose(file);
  if (!parseWriters(text, &writers)) writers.clear();
  return writers;
}

// ---- documents -------------------------------------------------------------------------

std::string wrapDocument(const std::string& tag, const std::vector<std::string>& lines) {
  std::string out = "<" + tag + ">\n";
  for (const auto& line : lines) out += escape(line, kDocumentEntities) + "\n";
  return out + "</" + tag + ">\n";
}

bool unwrapDocument(const std::string& tag, const std::string& document, std::vector<std::string>* lines) {
  std::string open = "<" + tag + ">\n", close = "</" + tag + ">\n";
  if (document.size() < open.size() + close.size() || document.compare(0, open.size(), open) != 0 ||
      document.compare(document.size() - close.size(), close.size(), close) != 0)
    return false;
  std::istringstream in(document.substr(open.size(), document.size() - open.size() - close.size()));
  std::string raw, line;
  while (std::getline(in, raw)) {
    if (raw.find_first_of("<>") != std::string::npos || !unescape(raw, kDocumentEntities, true, &line)) return false;
    lines->push_back(line);
  }
  return true;
}

std::string metadataDocument(const WriterSpec& writer) { return wrapDocument("WRITER_METADATA", writer.lines); }

bool parseMetadataDocument(const std::string& document, WriterSpec* writer) {
  std::vector<std::string> lines;
  if (!unwrapDocument("WRITER_METADATA", document, &lines)) return false;
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  std::vector<WriterSpec> writers;
  if (!parseWriters(text, &writers) || writers.size() != 1) return false;
  *writer = std::move(writers[0]);
  return true;
}

// ---- call log, live objects --------------------------------------------------------------

namespace {
std::mutex& logMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::string& logText() {
  static auto* t = new std::string;
  return *t;
}
std::atomic<long> liveObjects{0};
}  // namespace

void logCall(const std::string& line) {
  std::lock_guard<std::mutex> lock(logMutex());
  logText() += line + "\n";
}
void objectCreated() { ++liveObjects; }
void objectDestroyed() { --liveObjects; }

// ---- snapshot copies ------------------------------------------------------------------------

namespace {

std::mutex& copiesMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::map<int, fs::path>& copies() {
  static auto* c = new std::map<int, fs::path>;
  return *c;
}
int lastCopy = 0;

#ifdef _WIN32
fs::path volumeFolder(const Text& volume) {
  Text name = volume;
  while (name.size() > 3 && name.back() == L'\\') name.pop_back();
  return fs::path(name);
}
fs::path copiesFolder() {
  WCHAR temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  return fs::path(temp) / "om-vss-standin" / std::to_string(GetCurrentProcessId());
}
#else
fs::path volumeFolder(const Text& volume) {
  std::string host = om::standin::hostPathFromWindows(narrow(volume));
  while (host.size() > 1 && host.back() == '/') host.pop_back();
  return fs::path(host);
}
fs::path copiesFolder() { return fs::path(om::standin::standinRoot()) / "vss" / std::to_string(getpid()); }

// "\\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN\rest" -> the copy's host path.
std::string resolveDevice(const std::string& rest) {
  size_t digits = 0;
  while (digits < rest.size() && std::isdigit(static_cast<unsigned char>(rest[digits]))) ++digits;
  if (!digits || (digits < rest.size() && rest[digits] != '\\')) return std::string();
  int number = std::atoi(rest.substr(0, digits).c_str());
  std::lock_guard<std::mutex> lock(copiesMutex());
  auto it = copies().find(number);
  if (it == copies().end()) return std::string();
  std::string path = it->second.string();
  for (size_t i = digits; i < rest.size(); ++i) path += rest[i] == '\\' ? '/' : rest[i];
  return path;
}
#endif

}  // namespace

bool volumeExists(const Text& volume) {
  std::error_code error;
  return !volume.empty() && fs::is_directory(volumeFolder(volume), error);
}

int createShadowCopy(const Text& volume) {
#ifndef _WIN32
  static std::once_flag registered;
  std::call_once(registered, [] {
    om::standin::registerDevicePrefix("GLOBALROOT\\Device\\HarddiskVolumeShadowCopy", resolveDevice);
  });
#endif
  int number;
  {
    std::lock_guard<std::mutex> lock(copiesMutex());
    number = ++lastCopy;
  }
  fs::path target = copiesFolder() / ("HarddiskVolumeShadowCopy" + std::to_string(number));
  std::error_code error;
  fs::create_directories(target.parent_path(), error);
  fs::copy(volumeFolder(volume), target, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
  if (error) {
    fs::remove_all(target, error);
    return 0;
  }
  std::lock_guard<std::mutex> lock(copiesMutex());
  copies()[number] = target;
  return number;
}

void deleteShadowCopy(int number) {
  fs::path target;
  {
    std::lock_guard<std::mutex> lock(copiesMutex());
    auto it = copies().find(number);
    if (it == copies().end()) return;
    target = it->second;
    copies().erase(it);
  }
  std::error_code error;
  fs::remove_all(target, error);
  fs::remove(target.parent_path(), error);  // the process's folder, once empty
}

}  // namespace vssstandin

// ---- hooks ------------------------------------------------------------------------------------
#include "standin.h"

OM_VSS_HOOK long OmVssStandInLiveObjects() { return vssstandin::liveObjects.load(); }

OM_VSS_HOOK long OmVssStandInLiveBstrs() {
#ifdef _WIN32
  return -1;
#else
  return om::standin::liveBstrCount();
#endif
}

OM_VSS_HOOK int OmVssStandInCallLog(char* buffer, int size) {
  std::lock_guard<std::mutex> lock(vssstandin::logMutex());
  const std::string& text = vssstandin::logText();
  int needed = static_cast<int>(text.size()) + 1;
  if (buffer && size >= needed) std::memcpy(buffer, text.c_str(), static_cast<size_t>(needed));
  return needed;
}

OM_VSS_HOOK void OmVssStandInClearLog() {
  std::lock_guard<std::mutex> lock(vssstandin::logMutex());
  vssstandin::logText().clear();
}
