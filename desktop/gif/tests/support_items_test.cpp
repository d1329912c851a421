// Support routines, item lists, colour maps and the header.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "gif/gif_items.h"
#include "gif/gif_support.h"

namespace om {
namespace {

// Minimal owners for the blocks under test.
class FakeImage;

class FakeFrame : public TGIFFrameBase {
public:
  FakeFrame(FakeImage* owner, int w, int h, std::vector<uint8_t> pixels);
  int Width() override { return FWidth; }
  int Height() override { return FHeight; }
  bool Interlaced() override { return false; }
  uint8_t* Pixels() override { return FPixels.empty() ? nullptr : FPixels.data(); }
  void AllocatePixels() override { FPixels.assign(size_t(FWidth) * size_t(FHeight), 0); }
  TGIFColorMap* EffectiveColorMap() override { return Map; }
  bool HasTransparency() override { return Transparent >= 0; }
  int TransparentColorIndex() override { return Transparent; }
  void SetTransparentColorIndex(int i) override { Transparent = i; }
  void DropPalette() override { ++PaletteDrops; }
  void SaveToStream(TStream&) override {}
  void LoadFromStream(TStream&) override {}

  TGIFColorMap* Map = nullptr;
  int Transparent = -1;
  int PaletteDrops = 0;
  std::vector<uint8_t> FPixels;

private:
  int FWidth, FHeight;
};

class FakeImage : public TGIFPictureBase {
public:
  void Warning(TObject*, int severity, const std::string& message) override {
    Warnings.push_back(std::to_string(severity) + ":" + message);
  }
  int NeededVersion() override { return Version; }
  int ResolutionDepth() override { return 7; }
  int PixelDepth() override { return 8; }
  void Changed() override { ++Changes; }
  int FrameCount() override { return int(Frames.size()); }
  TGIFFrameBase* FrameAt(int i) override { return Frames[size_t(i)].get(); }
  bool BackgroundShows() override { return ShowsBackground; }

  int Version = gv87a;
  bool ShowsBackground = false;
  int Changes = 0;
  std::vector<std::string> Warnings;
  std::vector<std::unique_ptr<FakeFrame>> Frames;
};

FakeFrame::FakeFrame(FakeImage* owner, int w, int h, std::vector<uint8_t> pixels)
    : TGIFFrameBase(owner), FPixels(std::move(pixels)), FWidth(w), FHeight(h) {}

std::string Bytes(std::initializer_list<int> v) {
  std::string s;
  for (int b : v) s.push_back(char(b));
  return s;
}

TEST(GifSupport, RowBytesAndBitsForColors) {
  EXPECT_EQ(4u, RowBytes(3, 8, 32));
  EXPECT_EQ(4u, RowBytes(1, 24, 32));
  EXPECT_EQ(12u, RowBytes(3, 24, 32));
  EXPECT_EQ(4u, RowBytes(10, 1, 32));
  EXPECT_EQ(8u, RowBytes(33, 1, 32));
  EXPECT_EQ(0, BitsForColors(0));
  EXPECT_EQ(1, BitsForColors(1));
  EXPECT_EQ(1, BitsForColors(2));
  EXPECT_EQ(2, BitsForColors(3));
  EXPECT_EQ(8, BitsForColors(129));
  EXPECT_EQ(8, BitsForColors(256));
  EXPECT_EQ(9, BitsForColors(257));
}

TEST(GifSupport, TextBlocksRoundTrip) {
  std::string long300(300, 'x');
  for (int i = 0; i < 300; ++i) long300[size_t(i)] = char('A' + i % 26);
  TMemoryStream out;
  WriteTextBlocks(out, {"abc", "", long300});
  std::string bytes = out.AsString();
  ASSERT_EQ(1u + 3 + 1 + 255 + 1 + 45 + 1, bytes.size());
  EXPECT_EQ(Bytes({3, 'a', 'b', 'c', 0xFF}), bytes.substr(0, 5));
  EXPECT_EQ(long300.substr(0, 255), bytes.substr(5, 255));
  EXPECT_EQ(char(0x2D), bytes[260]);
  EXPECT_EQ(long300.substr(255), bytes.substr(261, 45));
  EXPECT_EQ(char(0), bytes.back());

  TMemoryStream in(bytes);
  std::vector<std::string> strings{"old"};
  ReadTextBlocks(in, strings);
  ASSERT_EQ(3u, strings.size());
  EXPECT_EQ("abc", strings[0]);
  EXPECT_EQ(long300.substr(0, 255), strings[1]);
  EXPECT_EQ(long300.substr(255), strings[2]);
  EXPECT_EQ(in.Size(), in.Position());
}

TEST(GifSupport, ShortReadsAreReported) {
  TMemoryStream shortBlock(Bytes({5, 'a', 'b'}));
  std::vector<std::string> strings;
  try {
    ReadTextBlocks(shortBlock, strings);
    FAIL() << "no error";
  } catch (const GIFException& e) {
    EXPECT_EQ("Premature end of data", e.Message());
  }
  // A stream that ends before a terminator stops quietly.
  TMemoryStream noTerminator(Bytes({2, 'a', 'b'}));
  ReadTextBlocks(noTerminator, strings);
  EXPECT_EQ(std::vector<std::string>{"ab"}, strings);
  // GIFException is an invalid-graphic error.
  EXPECT_THROW(RaiseGIFError("x"), EInvalidGraphic);
  TMemoryStream empty;
  EXPECT_EQ(0, ReadOneByte(empty));
}

class Item : public TGIFItem {
public:
  Item(int id, std::vector<int>& log) : TGIFItem(nullptr), FId(id), FLog(log) {}
  ~Item() override { FLog.push_back(FId); }
  void SaveToStream(TStream& s) override { WriteOneByte(s, uint8_t(FId)); }
  void LoadFromStream(TStream&) override {}

private:
  int FId;
  std::vector<int>& FLog;
};

class List : public TGIFList {
public:
  List() : TGIFList(nullptr) {}
  void LoadFromStream(TStream&) override {}
};

TEST(GifItems, ListOwnsItsItems) {
  std::vector<int> freed;
  {
    List list;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(i, list.Append(new Item(i, freed)));
    TMemoryStream out;
    list.SaveToStream(out);
    EXPECT_EQ(Bytes({0, 1, 2}), out.AsString());
    list.DeleteAll();
    EXPECT_EQ((std::vector<int>{0, 1, 2}), freed);
    EXPECT_EQ(0, list.ItemCount());

    freed.clear();
    auto* kept = new Item(7, freed);
    list.Append(new Item(5, freed));
    list.Append(kept);
    list.Append(new Item(6, freed));
    EXPECT_EQ(1, list.Detach(kept));
    EXPECT_EQ(2, list.ItemCount());
    EXPECT_TRUE(freed.empty());
    EXPECT_THROW(list.ItemAt(2), EListError);
    EXPECT_THROW(list.ItemAt(-1), EListError);
    list.DeleteAt(1);
    EXPECT_EQ(std::vector<int>{6}, freed);
    delete kept;
  }
  EXPECT_EQ((std::vector<int>{6, 7, 5}), freed);
}

TEST(GifColorMap, TableStorage) {
  TGIFLocalColorMap map(nullptr);
  map.Reserve(5);
  EXPECT_EQ(16, map.Capacity());
  map.Reserve(17);
  EXPECT_EQ(32, map.Capacity());
  map.Reserve(250);
  EXPECT_EQ(256, map.Capacity());
  map.ClearTable();
  EXPECT_EQ(0, map.Capacity());

  for (int i = 0; i < 3; ++i) map.AppendColor(MakeGIFColor(uint8_t(i + 1), 2, 3));
  TMemoryStream out;
  map.WriteTable(out);
  EXPECT_EQ(Bytes({1, 2, 3, 2, 2, 3, 3, 2, 3, 0, 0, 0}), out.AsString());
  EXPECT_EQ(2, map.TableBits());

  for (int i = 3; i < 256; ++i) map.AppendColor(MakeGIFColor(uint8_t(i), 0, 0));
  EXPECT_EQ(256, map.Count());
  try {
    map.AppendColor(0);
    FAIL();
  } catch (const GIFException& e) {
    EXPECT_EQ("Color table overflow", e.Message());
  }
  TMemoryStream full;
  map.WriteTable(full);
  EXPECT_EQ(768, full.Size());

  map.DeleteColor(0);
  EXPECT_EQ(255, map.Count());
  EXPECT_EQ(MakeGIFColor(2, 2, 3), map.ColorAt(0));
  EXPECT_THROW(map.DeleteColor(255), GIFException);

  TGIFLocalColorMap empty(nullptr);
  TMemoryStream none;
  empty.WriteTable(none);
  EXPECT_EQ(0, none.Size());
}

TEST(GifColorMap, FindColorDirection) {
  FakeImage image;
  image.Frames.push_back(std::make_unique<FakeFrame>(&image, 6, 1, std::vector<uint8_t>{5, 5, 5, 2, 0, 1}));
  TGIFLocalColorMap map(image.Frames[0].get());
  image.Frames[0]->Map = &map;
  const TGIFColor same = MakeGIFColor(9, 9, 9);
  for (int i = 0; i < 6; ++i) map.AppendColor(i == 2 || i == 5 ? same : MakeGIFColor(uint8_t(i), 0, 0));
  EXPECT_EQ(5, map.FindColor(same));
  EXPECT_EQ(-1, map.FindColor(MakeGIFColor(1, 2, 3)));
  EXPECT_EQ(5, map.AddUniqueColor(same));
  EXPECT_TRUE(map.Reorder());
  EXPECT_TRUE(map.Sorted());
  // 5 is used most, so it moved to position 0 and is found first.
  EXPECT_EQ(0, map.FindColor(same));
  EXPECT_GT(image.Frames[0]->PaletteDrops, 0);
}

TEST(GifColorMap, SortByUseDropsUnusedColors) {
  FakeImage image;
  TGIFHeader header(&image);
  TGIFGlobalColorMap& map = header.GlobalMap();
  EXPECT_FALSE(map.Reorder());  // no frames
  for (int i = 0; i < 4; ++i) map.AppendColor(MakeGIFColor(uint8_t(10 * i), 0, 0));
  image.Frames.push_back(std::make_unique<FakeFrame>(&image, 5, 1, std::vector<uint8_t>{1, 3, 3, 3, 1}));
  image.Frames[0]->Map = &map;
  image.Frames[0]->Transparent = 1;
  // A frame with its own map takes no part.
  image.Frames.push_back(std::make_unique<FakeFrame>(&image, 2, 1, std::vector<uint8_t>{0, 0}));
  const int changes = image.Changes;
  EXPECT_TRUE(map.Reorder());
  EXPECT_EQ(2, map.Count());
  EXPECT_EQ(MakeGIFColor(30, 0, 0), map.ColorAt(0));
  EXPECT_EQ(MakeGIFColor(10, 0, 0), map.ColorAt(1));
  EXPECT_EQ((std::vector<uint8_t>{1, 0, 0, 0, 1}), image.Frames[0]->FPixels);
  EXPECT_EQ(1, image.Frames[0]->Transparent);
  EXPECT_EQ((std::vector<uint8_t>{0, 0}), image.Frames[1]->FPixels);
  EXPECT_GT(image.Changes, changes);
  EXPECT_EQ(gv89a, header.RequiredVersion());

  // Already in descending order of use: unused trailing colours stay.
  map.AppendColor(MakeGIFColor(1, 1, 1));
  image.Frames[0]->FPixels = {0, 0, 0, 1, 1};
  EXPECT_TRUE(map.Reorder());
  EXPECT_EQ(3, map.Count());
}

// The header's background index follows its colour; a background that shows
// (frames restored to it) keeps its colour even when no pixel uses it.
TEST(GifColorMap, SortByUseMovesTheBackgroundIndex) {
  FakeImage image;
  TGIFHeader header(&image);
  TGIFGlobalColorMap& map = header.GlobalMap();
  for (int i = 0; i < 4; ++i) map.AppendColor(MakeGIFColor(uint8_t(10 * i), 0, 0));
  image.Frames.push_back(std::make_unique<FakeFrame>(&image, 5, 1, std::vector<uint8_t>{1, 3, 3, 3, 1}));
  image.Frames[0]->Map = &map;
  header.ScreenDescriptor[5] = 1;
  EXPECT_TRUE(map.Reorder());
  EXPECT_EQ(MakeGIFColor(10, 0, 0), header.BackgroundColor());

  TGIFHeader shown(&image);
  TGIFGlobalColorMap& second = shown.GlobalMap();
  for (int i = 0; i < 4; ++i) second.AppendColor(MakeGIFColor(uint8_t(10 * i), 0, 0));
  image.Frames[0]->Map = &second;
  image.Frames[0]->FPixels = {1, 3, 3, 3, 1};
  image.ShowsBackground = true;
  shown.ScreenDescriptor[5] = 2;
  EXPECT_TRUE(second.Reorder());
  EXPECT_EQ(3, second.Count());
  EXPECT_EQ(MakeGIFColor(20, 0, 0), shown.BackgroundColor());
  EXPECT_TRUE(image.Warnings.empty());
}

TEST(GifColorMap, ColorAtOutOfRangeWarns) {
  FakeImage image;
  TGIFHeader header(&image);
  for (int i = 0; i < 4; ++i) header.GlobalMap().AppendColor(MakeGIFColor(uint8_t(i + 1), 0, 0));
  EXPECT_EQ(MakeGIFColor(1, 0, 0), header.GlobalMap().ColorAt(7));
  EXPECT_EQ(std::vector<std::string>{"1:Invalid color index"}, image.Warnings);
  header.GlobalMap().ClearTable();
  image.Warnings.clear();
  try {
    header.BackgroundColor();
    FAIL();
  } catch (const GIFException& e) {
    EXPECT_EQ("Color table is empty", e.Message());
  }
  EXPECT_EQ(1u, image.Warnings.size());
}

TEST(GifColorMap, ImportsAndCopies) {
  TGIFLocalColorMap map(nullptr);
  TGIFRGBQuad quads[2] = {{1, 2, 3, 9}, {4, 5, 6, 9}};
  map.ImportRGBQuads(quads, 2);
  EXPECT_EQ(MakeGIFColor(3, 2, 1), map.ColorAt(0));
  TGIFPaletteEntry entries[1] = {{7, 8, 9, 0}};
  map.ImportPaletteEntries(entries, 1);
  EXPECT_EQ(1, map.Count());
  EXPECT_EQ(MakeGIFColor(7, 8, 9), map.ColorAt(0));
  TGIFPalette palette = map.MakePalette();
  ASSERT_EQ(1u, palette.Entries.size());
  EXPECT_EQ(kPaletteNoCollapse, palette.Entries[0].Flags);
  EXPECT_EQ(0x300, palette.Version);
  map.ImportRGBQuads(quads, 0);
  EXPECT_EQ(0, map.Count());
  EXPECT_TRUE(map.MakePalette().Entries.empty());

  TGIFLocalColorMap other(nullptr);
  for (int i = 0; i < 20; ++i) other.AppendColor(MakeGIFColor(uint8_t(i), 1, 1));
  map.CopyFrom(other);
  EXPECT_EQ(20, map.Count());
  EXPECT_EQ(32, map.Capacity());
  EXPECT_EQ(MakeGIFColor(19, 1, 1), map.ColorAt(19));
  TGIFHeader header(nullptr);
  EXPECT_THROW(map.CopyFrom(header), EConvertError);
}

TEST(GifHeader, LoadAndSave) {
  FakeImage image;
  TGIFHeader header(&image);
  // 89a, no colour table; saved for a version-1 image.
  TMemoryStream in(std::string("GIF89a") + Bytes({10, 0, 20, 0, 0x00, 3, 0}));
  header.LoadFromStream(in);
  EXPECT_EQ(10, header.Width());
  EXPECT_EQ(20, header.Height());
  EXPECT_EQ(0, header.GlobalMap().Count());
  TMemoryStream out;
  image.Version = gv87a;
  header.SaveToStream(out);
  EXPECT_EQ(13, out.Size());
  EXPECT_EQ("GIF87a", out.AsString().substr(0, 6));

  // Four bytes in front; lower-case signature; packed 0x87 reads 256 entries.
  std::string table(768, '\x11');
  TMemoryStream prefixed(Bytes({1, 2, 3, 4}) + "gif89a" + Bytes({1, 0, 1, 0, 0x87, 0, 0}) + table);
  header.LoadFromStream(prefixed);
  EXPECT_EQ(256, header.GlobalMap().Count());
  EXPECT_EQ(prefixed.Size(), prefixed.Position());
  TMemoryStream two(std::string("GIF87a") + Bytes({1, 0, 1, 0, 0x80, 0, 0, 1, 2, 3, 4, 5, 6}));
  header.LoadFromStream(two);
  EXPECT_EQ(2, header.GlobalMap().Count());
  EXPECT_EQ(gv87a, header.RequiredVersion());

  TMemoryStream bad("GIX89a0000000000000000");
  try {
    header.LoadFromStream(bad);
    FAIL();
  } catch (const GIFException& e) {
    EXPECT_EQ("Invalid GIF signature", e.Message());
  }
  TMemoryStream truncated(std::string("GIF89a") + Bytes({1, 0, 1, 0, 0x81, 0, 0, 1, 2, 3}));
  try {
    header.LoadFromStream(truncated);
    FAIL();
  } catch (const GIFException& e) {
    EXPECT_EQ("Premature end of data", e.Message());
  }

  image.Version = gvNone;
  TMemoryStream nothing;
  EXPECT_THROW(header.SaveToStream(nothing), GIFException);
  EXPECT_EQ(0, nothing.Size());
}

TEST(GifHeader, SaveFileAndLoadFile) {
  FakeImage image;
  TGIFHeader header(&image);
  header.SetWidth(300);
  header.SetHeight(2);
  for (int i = 0; i < 5; ++i) header.GlobalMap().AppendColor(MakeGIFColor(uint8_t(i), 7, 9));
  const std::string file = "gif_header_test.tmp";
  header.SaveFile(file);
  TGIFHeader loaded(&image);
  loaded.LoadFile(file);
  std::remove(file.c_str());
  EXPECT_EQ(300, loaded.Width());
  EXPECT_EQ(8, loaded.GlobalMap().Count());  // padded to a power of two
  EXPECT_EQ(MakeGIFColor(4, 7, 9), loaded.GlobalMap().ColorAt(4));
  EXPECT_EQ(MakeGIFColor(0, 0, 0), loaded.GlobalMap().ColorAt(7));
  EXPECT_THROW(loaded.LoadFile("no such dir/none.gif"), EStreamError);
}

TEST(GifHeader, PackFlagsAndVersion) {
  FakeImage image;
  TGIFHeader header(&image);
  for (int i = 0; i < 3; ++i) header.GlobalMap().AppendColor(MakeGIFColor(uint8_t(i), 0, 0));
  header.ScreenDescriptor[5] = 2;
  header.PackFlags();
  // The size field follows the table written (4 entries), not the image's
  // deeper pixel depth; the resolution comes from the image.
  EXPECT_EQ(0x80 | 0x70 | 0x01, header.PackedFields());
  TGIFHeader none(&image);
  none.PackFlags();
  EXPECT_EQ(0x70 | 0x07, none.PackedFields());
  EXPECT_EQ(gv87a, header.RequiredVersion());
  header.ScreenDescriptor[6] = 49;
  EXPECT_EQ(gv89a, header.RequiredVersion());
  header.ScreenDescriptor[6] = 0;

  image.Frames.push_back(std::make_unique<FakeFrame>(&image, 3, 1, std::vector<uint8_t>{2, 2, 1}));
  image.Frames[0]->Map = &header.GlobalMap();
  ASSERT_TRUE(header.GlobalMap().Reorder());
  EXPECT_EQ(gv89a, header.RequiredVersion());
  TMemoryStream out;
  image.Version = gv89a;
  header.SaveToStream(out);
  std::string bytes = out.AsString();
  EXPECT_EQ("GIF89a", bytes.substr(0, 6));
  EXPECT_EQ(0x08, uint8_t(bytes[10]) & 0x08);
  EXPECT_EQ(13u + 6, bytes.size());  // two colours written

  TGIFHeader copy(nullptr);
  copy.CopyFrom(header);
  EXPECT_EQ(header.ScreenDescriptor, copy.ScreenDescriptor);
  EXPECT_EQ(2, copy.GlobalMap().Count());
  copy.CopyFrom(image.Frames.size() ? static_cast<const TGIFPersistent&>(header.GlobalMap()) : header);
  EXPECT_EQ(0, copy.ScreenDescriptor[5]);
  EXPECT_EQ(2, copy.GlobalMap().Count());
}

}  // namespace
}  // namespace om
