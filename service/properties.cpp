#include "service/properties.h"

#include "platform/win32_owners.h"

namespace cpputil {

int Properties::load(const char* path) {
  om::UniqueFile file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return -1;
  std::string content;
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) content.append(buffer, read);
  // Text mode: CR LF reads as a line break.
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    start = end + 1;
    if (!line.empty() && line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    items.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  return 0;
}

const Property* Properties::find(const char* key) const {
  for (const Property& property : items)
    if (property.key == key) return &property;
  return nullptr;
}

void Properties::add(const Property& property) { items.push_back(property); }

}  // namespace cpputil
