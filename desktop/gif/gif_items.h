// In-memory blocks of a GIF file: the item and list bases, colour maps and the
// header with its logical screen descriptor. The image object and its frames
// build on the two abstract owner interfaces declared here.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "gif/gif_support.h"

namespace om {

class TGIFColorMap;
class TGIFFrameBase;
class TGIFHeader;

// GIF version codes.
enum : int { gvNone = 0, gv87a = 1, gv89a = 2 };

// What the blocks of an image need from the image that owns them.
class TGIFPictureBase {
public:
  virtual ~TGIFPictureBase() = default;
  // Warning handler of the image; sender is the item, list, map or painter reporting.
  virtual void Warning(TObject* sender, int severity, const std::string& message) = 0;
  // Version code the whole image needs (gvNone when it cannot be written).
  virtual int NeededVersion() = 0;
  virtual int ResolutionDepth() = 0;
  virtual int PixelDepth() = 0;
  // Change notification (the image's cached renderings become stale).
  virtual void Changed() = 0;
  virtual int FrameCount() = 0;
  virtual TGIFFrameBase* FrameAt(int index) = 0;
  // True when the screen shows its background colour (around or through the
  // first frame, or where a frame is restored), so that sorting the global
  // map keeps that colour.
  virtual bool BackgroundShows() { return false; }
};

// One block of a GIF file.
class TGIFItem : public TGIFPersistent {
public:
  explicit TGIFItem(TGIFPictureBase* owner) : FOwnerImage(owner) {}
  const char* ClassName() const override { return "TGIFItem"; }
  TGIFPictureBase* OwnerImage() const { return FOwnerImage; }

  // Lowest version the item needs.
  virtual int RequiredVersion() { return gv87a; }
  virtual void Warning(int severity, const std::string& message);
  virtual void SaveToStream(TStream& stream) = 0;
  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void SaveFile(const std::string& fileName);
  virtual void LoadFile(const std::string& fileName);

protected:
  TGIFPictureBase* FOwnerImage;
};

// An ordered list of items it owns.
class TGIFList : public TGIFPersistent {
public:
  explicit TGIFList(TGIFPictureBase* owner) : FOwnerImage(owner) {}
  ~TGIFList() override;
  const char* ClassName() const override { return "TGIFList"; }
  TGIFPictureBase* OwnerImage() const { return FOwnerImage; }

  virtual void Warning(int severity, const std::string& message);
  virtual void SaveToStream(TStream& stream);
  virtual void LoadFromStream(TStream& stream) = 0;

  TGIFItem* ItemAt(int index) const;
  int ItemCount() const { return int(FEntries.size()); }
  int Append(TGIFItem* item);
  // Takes ownership; index 0..ItemCount().
  void Insert(int index, TGIFItem* item);
  void DeleteAt(int index);
  void DeleteAll();
  int Detach(TGIFItem* item);

protected:
  TGIFPictureBase* FOwnerImage;
  std::vector<TGIFItem*> FEntries;
};

// A frame as the colour maps and the decoder see it.
class TGIFFrameBase : public TGIFItem {
public:
  using TGIFItem::TGIFItem;
  virtual int Width() = 0;
  virtual int Height() = 0;
  virtual bool Interlaced() = 0;
  // Width x height bytes, rows top to bottom; null before AllocatePixels.
  virtual uint8_t* Pixels() = 0;
  // Zero-filled; for decoding, with any content (the decoder writes every pixel).
  virtual void AllocatePixels() = 0;
  virtual void AllocatePixelsForDecoding() { AllocatePixels(); }
  virtual TGIFColorMap* EffectiveColorMap() = 0;
  virtual bool HasTransparency() = 0;
  virtual int TransparentColorIndex() = 0;
  virtual void SetTransparentColorIndex(int index) = 0;
  // Drops the palette cached from the local colour map.
  virtual void DropPalette() = 0;
};

// Use count and index before sorting, per colour.
struct TColorUsage {
  int32_t Count;
  int32_t Index;
};
using TColorUsageTable = std::array<TColorUsage, 256>;
using TColorTranslation = std::array<uint8_t, 256>;

// A GIF colour table of up to 256 entries (red, green, blue).
class TGIFColorMap : public TGIFPersistent {
public:
  TGIFColorMap() = default;
  ~TGIFColorMap() override = default;  // owners call Destroying first
  const char* ClassName() const override { return "TGIFColorMap"; }

  int Count() const { return FCount; }
  int Capacity() const { return FCapacity; }
  bool Sorted() const { return FSorted; }
  const uint8_t* Data() const { return FEntries.data(); }

  void ClearTable();
  void Reserve(int n);
  void ReadTable(TStream& stream, int n);
  void WriteTable(TStream& stream) const;
  int TableBits() const { return BitsForColors(FCount); }
  int FindColor(TGIFColor color) const;
  int AppendColor(TGIFColor color);
  int AddUniqueColor(TGIFColor color);
  void DeleteColor(int index);
  TGIFColor ColorAt(int index);
  // Platform palette entries (red, green, blue, flags).
  void ImportPaletteEntries(const TGIFPaletteEntry* entries, int n);
  // Colour-table entries (blue, green, red, reserved).
  void ImportRGBQuads(const TGIFRGBQuad* entries, int n);
  // Logical palette, one no-collapse entry per colour; empty for an empty table.
  TGIFPalette MakePalette() const;
  void CopyFrom(const TPersistent& source) override;

  virtual void Warning(int severity, const std::string& message) = 0;
  virtual void CountUsage(TColorUsageTable& usage) = 0;
  virtual void RemapPixels(const TColorTranslation& translation) = 0;
  virtual bool Reorder() = 0;
  virtual void NotifyChange() = 0;

  // Sorts by descending use and drops colours no pixel uses.
  bool SortByUse();

protected:
  // After SortByUse shortened the table.
  virtual void DroppedColors() {}
  // Pixel usage and remapping for a set of frames (shared by both owners).
  static void CountFrame(TGIFFrameBase& frame, TColorUsageTable& usage);
  static void RemapFrame(TGIFFrameBase& frame, const TColorTranslation& translation);
  template <class Entry>
  void ImportEntries(const Entry* entries, int n);

  std::vector<uint8_t> FEntries;  // capacity x 3 bytes
  int FCount = 0;
  int FCapacity = 0;
  bool FSorted = false;
};

class TGIFGlobalColorMap : public TGIFColorMap {
public:
  explicit TGIFGlobalColorMap(TGIFHeader* owner) : FOwnerHeader(owner) {}
  ~TGIFGlobalColorMap() override;
  const char* ClassName() const override { return "TGIFGlobalColorMap"; }
  TGIFHeader* OwnerHeader() const { return FOwnerHeader; }

  void Warning(int severity, const std::string& message) override;
  void CountUsage(TColorUsageTable& usage) override;
  void RemapPixels(const TColorTranslation& translation) override;
  bool Reorder() override;
  void NotifyChange() override;

protected:
  void DroppedColors() override;

private:
  TGIFHeader* FOwnerHeader;
};

class TGIFLocalColorMap : public TGIFColorMap {
public:
  explicit TGIFLocalColorMap(TGIFFrameBase* owner) : FOwnerFrame(owner) {}
  ~TGIFLocalColorMap() override;
  const char* ClassName() const override { return "TGIFLocalColorMap"; }
  TGIFFrameBase* OwnerFrame() const { return FOwnerFrame; }

  void Warning(int severity, const std::string& message) override;
  void CountUsage(TColorUsageTable& usage) override;
  void RemapPixels(const TColorTranslation& translation) override;
  bool Reorder() override;
  void NotifyChange() override;

private:
  TGIFFrameBase* FOwnerFrame;
};

// File header, logical screen descriptor and global colour table.
class TGIFHeader : public TGIFItem {
public:
  explicit TGIFHeader(TGIFPictureBase* owner);
  ~TGIFHeader() override;
  const char* ClassName() const override { return "TGIFHeader"; }

  // The 7 descriptor bytes as stored in the file.
  std::array<uint8_t, 7> ScreenDescriptor{};
  TGIFGlobalColorMap& GlobalMap() { return *FGlobalMap; }

  int Width() const { return ScreenDescriptor[0] | (ScreenDescriptor[1] << 8); }
  int Height() const { return ScreenDescriptor[2] | (ScreenDescriptor[3] << 8); }
  void SetWidth(int w) { ScreenDescriptor[0] = uint8_t(w); ScreenDescriptor[1] = uint8_t(w >> 8); }
  void SetHeight(int h) { ScreenDescriptor[2] = uint8_t(h); ScreenDescriptor[3] = uint8_t(h >> 8); }
  uint8_t PackedFields() const { return ScreenDescriptor[4]; }
  uint8_t BackgroundIndex() const { return ScreenDescriptor[5]; }
  uint8_t AspectRatio() const { return ScreenDescriptor[6]; }

  void Reset();
  void CopyFrom(const TPersistent& source) override;
  void PackFlags();
  void SaveToStream(TStream& stream) override;
  void LoadFromStream(TStream& stream) override;
  int RequiredVersion() override;
  TGIFColor BackgroundColor() { return FGlobalMap->ColorAt(BackgroundIndex()); }
  int ColorBits() const { return FGlobalMap->TableBits(); }
  int ResolutionBits() const { return ColorBits() - 1; }

private:
  TGIFGlobalColorMap* FGlobalMap;
};

}  // namespace om
