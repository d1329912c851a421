// The shadow-copy stand-in's data: writers and their metadata as a fixture file
// describes them, texts, GUIDs, the call log and the snapshot copies.
#pragma once
#define OM_WIN32_VSS
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"

// Visible to the stand-in's own tests on Linux.
#ifndef _WIN32
#pragma GCC visibility push(default)
#endif

namespace vssstandin {

using Text = std::basic_string<WCHAR>;
using OptText = std::optional<Text>;  // absent = a null BSTR

Text widen(const std::string& utf8);
std::string narrow(const Text& text);
std::string narrow(const WCHAR* text);  // null -> "null"
OptText optional(const WCHAR* text);

std::string guidText(const GUID& guid);  // {00112233-4455-6677-8899-AABBCCDDEEFF}
bool parseGuid(const std::string& text, GUID* guid);
bool sameGuid(const GUID& a, const GUID& b);
bool isNullGuid(const GUID& guid);
GUID newGuid();

// Allocations handed to the caller.
BSTR makeBstr(const OptText& text);
WCHAR* makeTaskText(const Text& text);

// ---- fixture records ---------------------------------------------------------------
// One fixture line: a keyword and key=value fields, separated by tabs. A value holds
// any text: its '&', tab and line ends are written as &amp; &#9; &#10; &#13;.
struct Line {
  std::string keyword;
  std::map<std::string, std::string> fields;
  bool has(const std::string& key) const { return fields.count(key) != 0; }
  std::string get(const std::string& key, const std::string& fallback = std::string()) const;
  long number(const std::string& key, long fallback = 0) const;
  OptText text(const std::string& key) const;
};
bool parseLine(const std::string& raw, Line* line);
std::string formatLine(const std::string& keyword, const std::vector<std::pair<std::string, std::string>>& fields);

struct FileSpec {
  OptText path, spec, alternate;
  bool recursive = false;
  DWORD mask = 0;
};

struct DependencySpec {
  GUID writer{};
  OptText logicalPath, name;
};

struct ComponentSpec {
  int type = 0;
  OptText logicalPath, name, caption;
  std::vector<BYTE> icon;
  bool restoreMetadata = false, notify = false, selectable = false, selectableForRestore = false;
  DWORD flags = 0;
  std::vector<FileSpec> files, databases, logs;
  std::vector<DependencySpec> dependencies;
};

struct WriterSpec {
  GUID writerId{}, instanceId{};
  Text name;
  int usage = 0, source = 0;
  int state = 1;  // VSS_WS_STABLE
  HRESULT failure = 0;
  int restoreMethod = 0, writerRestore = 0;
  OptText service, userProcedure;
  bool reboot = false;
  DWORD schema = 0;
  std::vector<FileSpec> includes, excludes, mappings;
  std::vector<ComponentSpec> components;
  std::vector<std::string> lines;  // the fixture lines, for the metadata document
};

// Parses fixture text; false (with the writers read so far) on a malformed line.
bool parseWriters(const std::string& text, std::vector<WriterSpec>* writers);
// The fixture named by OM_VSS_FIXTURE (empty when unset or unreadable).
std::vector<WriterSpec> fixtureWriters();

// Writer metadata documents: "<WRITER_METADATA>" around the writer's fixture lines.
std::string metadataDocument(const WriterSpec& writer);
bool parseMetadataDocument(const std::string& document, WriterSpec* writer);

// "<tag>" + escaped lines + "</tag>" and back.
std::string wrapDocument(const std::string& tag, const std::vector<std::string>& lines);
bool unwrapDocument(const std::string& tag, const std::string& document, std::vector<std::string>* lines);

// ---- call log, live objects --------------------------------------------------------
void logCall(const std::string& line);
void objectCreated();
void objectDestroyed();

// ---- snapshot copies ----------------------------------------------------------------
// Copies the folder behind `volume` (a Windows path) into a new shadow copy; its
// number N names the device \\?\GLOBALROOT\Device\HarddiskVolumeShadowCopyN.
bool volumeExists(const Text& volume);
int createShadowCopy(const Text& volume);
void deleteShadowCopy(int number);

}  // namespace vssstandin

#ifndef _WIN32
#pragma GCC visibility pop
#endif
