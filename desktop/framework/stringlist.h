// TStringList: an ordered list of strings with name=value access, optional
// sorted order with binary search, and loading and saving as lines of text.
#pragma once

#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "framework/object.h"
#include "framework/streams.h"

namespace om {

// Index out of range, a duplicate refused, or an operation a sorted list forbids.
class EStringListError : public Exception {
public:
  using Exception::Exception;
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList : public TObject {
public:
  TStringList() = default;

  int Count() const { return static_cast<int>(FItems.size()); }
  // Raises EStringListError for an index out of range.
  const std::string& Get(int index) const;
  void Put(int index, const std::string& s);
  const std::string& operator[](int index) const { return Get(index); }

  // Adds s (at its sorted place when Sorted); returns its index.
  int Add(const std::string& s);
  void Insert(int index, const std::string& s);  // not allowed while Sorted
  void Delete(int index);
  void Clear() { FItems.clear(); }
  void Assign(const TStringList& other);

  // First index of s (binary search when Sorted), or -1. CaseSensitive decides.
  int IndexOf(const std::string& s) const;
  // First index of the entry whose name (text before the first "=") equals name, or -1.
  int IndexOfName(const std::string& name) const;
  // The name part of entry index ("" when it holds no "=").
  std::string Names(int index) const;
  // The text after the first "=" of entry index ("" when it holds no "=").
  std::string ValueFromIndex(int index) const;
  // The value of the first entry named name, "" when there is none.
  std::string Values(const std::string& name) const;
  // Sets the value of the first entry named name, adding one when there is none;
  // an empty value removes the entry.
  void SetValue(const std::string& name, const std::string& value);

  // Binary search of a sorted list: true when found; index is the match or the
  // place s would be inserted at.
  bool Find(const std::string& s, int& index) const;

  bool Sorted() const { return FSorted; }
  void SetSorted(bool value);  // switching on sorts the list
  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool value);
  TDuplicates Duplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates value) { FDuplicates = value; }
  void Sort();

  // Lines of text: CR LF, LF or a lone CR end a line; a last line without an
  // end is kept. The text form ends every line with CR LF.
  std::string Text() const;
  void SetText(const std::string& text);
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  // Raise EFOpenError / EFCreateError when the file cannot be opened.
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

  const std::vector<std::string>& Items() const { return FItems; }

private:
  int Compare(const std::string& a, const std::string& b) const;
  bool SameName(const std::string& entry, const std::string& name) const;

  std::vector<std::string> FItems;
  bool FSorted = false;
  bool FCaseSensitive = false;
  TDuplicates FDuplicates = dupIgnore;
};

}  // namespace om
