#include "framework/stringlist.h"

#include <algorithm>

#include "framework/strutils.h"

namespace om {

namespace {

int CompareBytes(const std::string& a, const std::string& b, bool caseSensitive) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (!caseSensitive) {
      if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
      if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    }
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace

int TStringList::Compare(const std::string& a, const std::string& b) const {
  return CompareBytes(a, b, FCaseSensitive);
}

const std::string& TStringList::Get(int index) const {
  if (index < 0 || index >= Count()) throw EStringListError(Format("List index out of bounds (%d)", index));
  return FItems[static_cast<size_t>(index)];
}

void TStringList::Put(int index, const std::string& s) {
  if (FSorted) throw EStringListError("Operation not allowed on sorted list");
  if (index < 0 || index >= Count()) throw EStringListError(Format("List index out of bounds (%d)", index));
  FItems[static_cast<size_t>(index)] = s;
}

int TStringList::Add(const std::string& s) {
  if (!FSorted) {
    FItems.push_back(s);
    return Count() - 1;
  }
  int index;
  if (Find(s, index)) {
    if (FDuplicates == dupIgnore) return index;
    if (FDuplicates == dupError) throw EStringListError("String list does not allow duplicates");
  }
  FItems.insert(FItems.begin() + index, s);
  return index;
}

void TStringList::Insert(int index, const std::string& s) {
  if (FSorted) throw EStringListError("Operation not allowed on sorted list");
  if (index < 0 || index > Count()) throw EStringListError(Format("List index out of bounds (%d)", index));
  FItems.insert(FItems.begin() + index, s);
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) throw EStringListError(Format("List index out of bounds (%d)", index));
  FItems.erase(FItems.begin() + index);
}

void TStringList::Assign(const TStringList& other) {
  FItems = other.FItems;
  FSorted = other.FSorted;
  FCaseSensitive = other.FCaseSensitive;
  FDuplicates = other.FDuplicates;
}

bool TStringList::Find(const std::string& s, int& index) const {
  // Lowest index whose entry is not below s.
  int lo = 0, hi = Count();
  while (lo < hi) {
    int mid = lo + (hi - lo) / 2;
    if (Compare(FItems[static_cast<size_t>(mid)], s) < 0) lo = mid + 1;
    else hi = mid;
  }
  index = lo;
  return lo < Count() && Compare(FItems[static_cast<size_t>(lo)], s) == 0;
}

int TStringList::IndexOf(const std::string& s) const {
  if (FSorted) {
    int index;
    return Find(s, index) ? index : -1;
  }
  for (int i = 0; i < Count(); ++i)
    if (Compare(FItems[static_cast<size_t>(i)], s) == 0) return i;
  return -1;
}

bool TStringList::SameName(const std::string& entry, const std::string& name) const {
  size_t eq = entry.find('=');
  if (eq == std::string::npos || eq != name.size()) return false;
  return CompareBytes(entry.substr(0, eq), name, FCaseSensitive) == 0;
}

int TStringList::IndexOfName(const std::string& name) const {
  for (int i = 0; i < Count(); ++i)
    if (SameName(FItems[static_cast<size_t>(i)], name)) return i;
  return -1;
}

std::string TStringList::Names(int index) const {
  const std::string& s = Get(index);
  size_t eq = s.find('=');
  return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
  const std::string& s = Get(index);
  size_t eq = s.find('=');
  return eq == std::string::npos ? std::string() : s.substr(eq + 1);
}

std::string TStringList::Values(const std::string& name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValue(const std::string& name, const std::string& value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  if (i < 0) {
    Add(name + "=" + value);
  } else if (FSorted) {
    Delete(i);
    Add(name + "=" + value);
  } else {
    FItems[static_cast<size_t>(i)] = name + "=" + value;
  }
}

void TStringList::Sort() {
  std::stable_sort(FItems.begin(), FItems.end(),
                   [this](const std::string& a, const std::string& b) { return Compare(a, b) < 0; });
}

void TStringList::SetSorted(bool value) {
  if (value && !FSorted) Sort();
  FSorted = value;
}

void TStringList::SetCaseSensitive(bool value) {
  if (value == FCaseSensitive) return;
  FCaseSensitive = value;
  if (FSorted) Sort();
}

std::string TStringList::Text() const {
  std::string out;
  for (const std::string& s : FItems) {
    out += s;
    out += "\r\n";
  }
  return out;
}

void TStringList::SetText(const std::string& text) {
  std::vector<std::string> lines;
  size_t i = 0, start = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  FItems.clear();
  if (!FSorted) {
    FItems = std::move(lines);
  } else {
    for (const std::string& s : lines) Add(s);
  }
}

void TStringList::LoadFromStream(TStream& stream) {
  int64_t size = stream.Size() - stream.Position();
  std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (!bytes.empty()) stream.ReadBuffer(&bytes[0], static_cast<int64_t>(bytes.size()));
  SetText(bytes);
}

void TStringList::SaveToStream(TStream& stream) const {
  std::string text = Text();
  stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

void TStringList::LoadFromFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TStringList::SaveToFile(const std::string& fileName) const {
  TFileStream stream(fileName, fmCreate);
  SaveToStream(stream);
}

}  // namespace om
