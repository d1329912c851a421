#include "gif/gif_items.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#include "framework/strutils.h"

namespace om {

// --- TGIFItem ----------------------------------------------------------------

void TGIFItem::Warning(int severity, const std::string& message) {
  if (FOwnerImage) FOwnerImage->Warning(this, severity, message);
}

void TGIFItem::SaveFile(const std::string& fileName) {
  TFileStream stream(fileName, fmCreate);
  SaveToStream(stream);
}

void TGIFItem::LoadFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

// --- TGIFList ----------------------------------------------------------------

TGIFList::~TGIFList() {
  for (TGIFItem* item : FEntries) delete item;
}

void TGIFList::Warning(int severity, const std::string& message) {
  if (FOwnerImage) FOwnerImage->Warning(this, severity, message);
}

void TGIFList::SaveToStream(TStream& stream) {
  for (TGIFItem* item : FEntries) item->SaveToStream(stream);
}

TGIFItem* TGIFList::ItemAt(int index) const {
  if (index < 0 || index >= ItemCount()) throw EListError(Format("List index out of bounds (%d)", index));
  return FEntries[size_t(index)];
}

int TGIFList::Append(TGIFItem* item) {
  FEntries.push_back(item);
  return ItemCount() - 1;
}

void TGIFList::Insert(int index, TGIFItem* item) {
  if (index < 0 || index > ItemCount()) throw EListError(Format("List index out of bounds (%d)", index));
  FEntries.insert(FEntries.begin() + index, item);
}

void TGIFList::DeleteAt(int index) {
  TGIFItem* item = ItemAt(index);
  FEntries.erase(FEntries.begin() + index);
  delete item;
}

void TGIFList::DeleteAll() {
  while (!FEntries.empty()) DeleteAt(0);
}

int TGIFList::Detach(TGIFItem* item) {
  auto it = std::find(FEntries.begin(), FEntries.end(), item);
  if (it == FEntries.end()) return -1;
  int index = int(it - FEntries.begin());
  FEntries.erase(it);
  return index;
}

// --- TGIFColorMap ------------------------------------------------------------

void TGIFColorMap::ClearTable() {
  FEntries.clear();
  FEntries.shrink_to_fit();
  FCount = 0;
  FCapacity = 0;
  FSorted = false;
}

void TGIFColorMap::Reserve(int n) {
  if (n < FCapacity) return;
  int capacity = n <= 16 ? 16 : std::min(256, (n + 31) & ~31);
  FCapacity = capacity;
  FEntries.resize(size_t(capacity) * 3);
}

void TGIFColorMap::ReadTable(TStream& stream, int n) {
  ClearTable();
  if (n < 0 || n > 256) RaiseGIFError("Color table overflow");
  Reserve(n);
  ReadExact(stream, FEntries.data(), int64_t(n) * 3);
  FCount = n;
}

void TGIFColorMap::WriteTable(TStream& stream) const {
  if (FCount == 0) return;
  std::vector<uint8_t> out(size_t(3) << TableBits(), 0);
  std::memcpy(out.data(), FEntries.data(), size_t(FCount) * 3);
  stream.WriteBuffer(out.data(), int64_t(out.size()));
}

int TGIFColorMap::FindColor(TGIFColor color) const {
  const uint8_t r = GIFRed(color), g = GIFGreen(color), b = GIFBlue(color);
  auto match = [&](int i) {
    const uint8_t* e = &FEntries[size_t(i) * 3];
    return e[0] == r && e[1] == g && e[2] == b;
  };
  if (FSorted) {
    for (int i = 0; i < FCount; ++i)
      if (match(i)) return i;
  } else {
    for (int i = FCount - 1; i >= 0; --i)
      if (match(i)) return i;
  }
  return -1;
}

int TGIFColorMap::AppendColor(TGIFColor color) {
  if (FCount >= 256) RaiseGIFError("Color table overflow");
  if (FCount >= FCapacity) Reserve(FCount + 1);
  uint8_t* e = &FEntries[size_t(FCount) * 3];
  e[0] = GIFRed(color);
  e[1] = GIFGreen(color);
  e[2] = GIFBlue(color);
  int index = FCount++;
  FSorted = false;
  NotifyChange();
  return index;
}

int TGIFColorMap::AddUniqueColor(TGIFColor color) {
  int index = FindColor(color);
  return index >= 0 ? index : AppendColor(color);
}

void TGIFColorMap::DeleteColor(int index) {
  if (index < 0 || index >= FCount) RaiseGIFError("Invalid color index");
  std::memmove(&FEntries[size_t(index) * 3], &FEntries[size_t(index + 1) * 3], size_t(FCount - index - 1) * 3);
  --FCount;
  FSorted = false;
  NotifyChange();
}

TGIFColor TGIFColorMap::ColorAt(int index) {
  if (index < 0 || index >= FCount) {
    Warning(1, "Invalid color index");
    if (FCount == 0) RaiseGIFError("Color table is empty");
    index = 0;
  }
  const uint8_t* e = &FEntries[size_t(index) * 3];
  return MakeGIFColor(e[0], e[1], e[2]);
}

// Palette entries and RGB quads differ only in layout: both name their channels.
template <class Entry>
void TGIFColorMap::ImportEntries(const Entry* entries, int n) {
  ClearTable();
  n = std::min(n, 256);
  if (n <= 0) return;
  Reserve(n);
  for (int i = 0; i < n; ++i) {
    FEntries[size_t(i) * 3] = entries[i].Red;
    FEntries[size_t(i) * 3 + 1] = entries[i].Green;
    FEntries[size_t(i) * 3 + 2] = entries[i].Blue;
  }
  FCount = n;
  NotifyChange();
}

void TGIFColorMap::ImportPaletteEntries(const TGIFPaletteEntry* entries, int n) { ImportEntries(entries, n); }

void TGIFColorMap::ImportRGBQuads(const TGIFRGBQuad* entries, int n) { ImportEntries(entries, n); }

TGIFPalette TGIFColorMap::MakePalette() const {
  TGIFPalette palette;
  for (int i = 0; i < FCount; ++i) {
    const uint8_t* e = &FEntries[size_t(i) * 3];
    palette.Entries.push_back({e[0], e[1], e[2], kPaletteNoCollapse});
  }
  return palette;
}

void TGIFColorMap::CopyFrom(const TPersistent& source) {
  const auto* map = dynamic_cast<const TGIFColorMap*>(&source);
  if (!map) {
    TGIFPersistent::CopyFrom(source);
    return;
  }
  if (map == this) return;
  ClearTable();
  FCapacity = map->FCapacity;
  FCount = map->FCount;
  FSorted = map->FSorted;
  FEntries.assign(size_t(FCapacity) * 3, 0);
  if (FCount > 0) std::memcpy(FEntries.data(), map->FEntries.data(), size_t(FCount) * 3);
  NotifyChange();
}

bool TGIFColorMap::SortByUse() {
  if (FCount <= 1) return false;
  FSorted = true;
  TColorUsageTable usage;
  for (int i = 0; i < 256; ++i) usage[size_t(i)] = {0, i};
  CountUsage(usage);

  // Descending by use count; pivot is the middle element.
  auto quicksort = [&usage](auto& self, int left, int right) -> void {
    int i = left, j = right;
    const int32_t pivot = usage[size_t((left + right) / 2)].Count;
    do {
      while (usage[size_t(i)].Count > pivot) ++i;
      while (usage[size_t(j)].Count < pivot) --j;
      if (i <= j) {
        std::swap(usage[size_t(i)], usage[size_t(j)]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (left < j) self(self, left, j);
    if (i < right) self(self, i, right);
  };
  quicksort(quicksort, 0, FCount - 1);

  bool identity = true;
  for (int i = 0; i < FCount; ++i)
    if (usage[size_t(i)].Index != i) identity = false;
  if (identity) return true;

  // Pixel values outside the table keep their value.
  TColorTranslation translation;
  for (int i = 0; i < 256; ++i) translation[size_t(i)] = uint8_t(i);
  for (int i = 0; i < FCount; ++i) translation[size_t(usage[size_t(i)].Index)] = uint8_t(i);
  RemapPixels(translation);
  std::vector<uint8_t> old(FEntries.begin(), FEntries.begin() + FCount * 3);
  for (int i = 0; i < FCount; ++i)
    std::memcpy(&FEntries[size_t(translation[size_t(i)]) * 3], &old[size_t(i) * 3], 3);
  for (int i = 0; i < FCount; ++i) {
    if (usage[size_t(i)].Count == 0) {
      FCount = i;
      break;
    }
  }
  DroppedColors();
  NotifyChange();
  return true;
}

void TGIFColorMap::CountFrame(TGIFFrameBase& frame, TColorUsageTable& usage) {
  const uint8_t* p = frame.Pixels();
  if (!p || frame.Width() <= 0 || frame.Height() <= 0) return;
  const size_t n = size_t(frame.Width()) * size_t(frame.Height());
  for (size_t i = 0; i < n; ++i) ++usage[p[i]].Count;
}

void TGIFColorMap::RemapFrame(TGIFFrameBase& frame, const TColorTranslation& translation) {
  uint8_t* p = frame.Pixels();
  if (p && frame.Width() > 0 && frame.Height() > 0) {
    const size_t n = size_t(frame.Width()) * size_t(frame.Height());
    for (size_t i = 0; i < n; ++i) p[i] = translation[p[i]];
  }
  if (frame.HasTransparency()) {
    int t = frame.TransparentColorIndex();
    if (t >= 0 && t < 256) frame.SetTransparentColorIndex(translation[size_t(t)]);
  }
}

// --- TGIFGlobalColorMap ------------------------------------------------------

TGIFGlobalColorMap::~TGIFGlobalColorMap() { ClearTable(); }

void TGIFGlobalColorMap::Warning(int severity, const std::string& message) {
  if (FOwnerHeader && FOwnerHeader->OwnerImage()) FOwnerHeader->OwnerImage()->Warning(this, severity, message);
}

void TGIFGlobalColorMap::CountUsage(TColorUsageTable& usage) {
  TGIFPictureBase* image = FOwnerHeader ? FOwnerHeader->OwnerImage() : nullptr;
  if (!image) return;
  for (int i = 0; i < image->FrameCount(); ++i) {
    TGIFFrameBase* frame = image->FrameAt(i);
    if (frame->EffectiveColorMap() == this) CountFrame(*frame, usage);
  }
  const int background = FOwnerHeader->BackgroundIndex();
  if (background < FCount && image->BackgroundShows()) ++usage[size_t(background)].Count;
}

void TGIFGlobalColorMap::RemapPixels(const TColorTranslation& translation) {
  TGIFPictureBase* image = FOwnerHeader ? FOwnerHeader->OwnerImage() : nullptr;
  if (!image) return;
  for (int i = 0; i < image->FrameCount(); ++i) {
    TGIFFrameBase* frame = image->FrameAt(i);
    if (frame->EffectiveColorMap() == this) RemapFrame(*frame, translation);
  }
  // The background index moves with its colour.
  FOwnerHeader->ScreenDescriptor[5] = translation[FOwnerHeader->BackgroundIndex()];
}

void TGIFGlobalColorMap::DroppedColors() {
  // A background colour that does not show and was dropped: the first entry.
  if (FOwnerHeader && FOwnerHeader->BackgroundIndex() >= FCount) FOwnerHeader->ScreenDescriptor[5] = 0;
}

bool TGIFGlobalColorMap::Reorder() {
  TGIFPictureBase* image = FOwnerHeader ? FOwnerHeader->OwnerImage() : nullptr;
  if (!image || image->FrameCount() == 0) return false;
  return SortByUse();
}

void TGIFGlobalColorMap::NotifyChange() {
  if (FOwnerHeader && FOwnerHeader->OwnerImage()) FOwnerHeader->OwnerImage()->Changed();
}

// --- TGIFLocalColorMap -------------------------------------------------------

TGIFLocalColorMap::~TGIFLocalColorMap() { ClearTable(); }

void TGIFLocalColorMap::Warning(int severity, const std::string& message) {
  if (FOwnerFrame) FOwnerFrame->Warning(severity, message);
}

void TGIFLocalColorMap::CountUsage(TColorUsageTable& usage) {
  if (FOwnerFrame) CountFrame(*FOwnerFrame, usage);
}

void TGIFLocalColorMap::RemapPixels(const TColorTranslation& translation) {
  if (FOwnerFrame) RemapFrame(*FOwnerFrame, translation);
}

bool TGIFLocalColorMap::Reorder() { return SortByUse(); }

void TGIFLocalColorMap::NotifyChange() {
  if (FOwnerFrame) FOwnerFrame->DropPalette();
}

// --- TGIFHeader --------------------------------------------------------------

TGIFHeader::TGIFHeader(TGIFPictureBase* owner) : TGIFItem(owner), FGlobalMap(new TGIFGlobalColorMap(this)) {
  Reset();
}

TGIFHeader::~TGIFHeader() { delete FGlobalMap; }

void TGIFHeader::Reset() {
  FGlobalMap->ClearTable();
  ScreenDescriptor.fill(0);
}

void TGIFHeader::CopyFrom(const TPersistent& source) {
  if (const auto* header = dynamic_cast<const TGIFHeader*>(&source)) {
    if (header == this) return;
    FGlobalMap->CopyFrom(*header->FGlobalMap);
    ScreenDescriptor = header->ScreenDescriptor;
  } else if (const auto* map = dynamic_cast<const TGIFColorMap*>(&source)) {
    Reset();
    FGlobalMap->CopyFrom(*map);
  } else {
    TGIFItem::CopyFrom(source);
  }
}

void TGIFHeader::PackFlags() {
  uint8_t packed = 0;
  if (FGlobalMap->Count() > 0) packed |= 0x80;
  if (FGlobalMap->Sorted()) packed |= 0x08;
  int resolution = FOwnerImage ? FOwnerImage->ResolutionDepth() : ResolutionBits();
  // The size field must describe the table that follows: a frame with a
  // deeper local table must not make readers expect a larger global one.
  int tableBits = FGlobalMap->Count() > 0 ? ColorBits() : FOwnerImage ? FOwnerImage->PixelDepth() : 1;
  packed |= uint8_t((resolution << 4) & 0x70);
  packed |= uint8_t((tableBits - 1) & 7);
  ScreenDescriptor[4] = packed;
}

void TGIFHeader::SaveToStream(TStream& stream) {
  int version = FOwnerImage ? FOwnerImage->NeededVersion() : RequiredVersion();
  if (version != gv87a && version != gv89a) RaiseGIFError("Unsupported GIF version");
  const char* signature = version == gv87a ? "GIF87a" : "GIF89a";
  PackFlags();
  stream.WriteBuffer(signature, 6);
  stream.WriteBuffer(ScreenDescriptor.data(), 7);
  if (ScreenDescriptor[4] & 0x80) FGlobalMap->WriteTable(stream);
}

void TGIFHeader::LoadFromStream(TStream& stream) {
  auto isGIF = [](const char* s) {
    return std::toupper(uint8_t(s[0])) == 'G' && std::toupper(uint8_t(s[1])) == 'I' &&
           std::toupper(uint8_t(s[2])) == 'F';
  };
  const int64_t start = stream.Position();
  char signature[6];
  ReadExact(stream, signature, 6);
  if (!isGIF(signature)) {
    // Data that carries a 4-byte length before the GIF stream.
    stream.SetPosition(start + 4);
    ReadExact(stream, signature, 6);
    if (!isGIF(signature)) RaiseGIFError("Invalid GIF signature");
  }
  ReadExact(stream, ScreenDescriptor.data(), 7);
  if (ScreenDescriptor[4] & 0x80)
    FGlobalMap->ReadTable(stream, 2 << (ScreenDescriptor[4] & 7));
  else
    FGlobalMap->ClearTable();
}

int TGIFHeader::RequiredVersion() {
  return FGlobalMap->Sorted() || ScreenDescriptor[6] != 0 ? gv89a : gv87a;
}

}  // namespace om
