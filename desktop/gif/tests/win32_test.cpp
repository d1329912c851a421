// The codec's Windows side: graphics handle checks and palette handles.
#include <gtest/gtest.h>

#include "gif/gif_colors.h"
#include "gif/gif_quantize.h"
#include "gif/gif_win32.h"
#include "platform/win32_owners.h"

namespace om {
namespace {

TEST(GifWin32, CheckGraphicsHandle) {
  EXPECT_EQ(uintptr_t(42), CheckGraphicsHandle(42));
  SetLastError(0);
  try {
    CheckGraphicsHandle(0);
    FAIL();
  } catch (const EOutOfResources& e) {
    EXPECT_EQ("Out of system resources", e.Message());
  }
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  try {
    CheckGraphicsHandle(0);
    FAIL();
  } catch (const EOutOfResources& e) {
    EXPECT_FALSE(e.Message().empty());
    EXPECT_NE('.', e.Message().back());
  }
}

// A block the system cannot give is reported, not skipped.
TEST(GifWin32, ClipboardBlocksThatCannotBeMadeAreReported) {
  const char byte = 'G';
  try {
    PlaceOnClipboard(CF_TEXT, &byte, size_t(-1) / 2);
    FAIL();
  } catch (const GIFException& e) {
    EXPECT_EQ("Failed to store GIF on clipboard", e.Message());
  }
}

TEST(GifWin32, PaletteHandles) {
  TGIFPalette web = MakeWebPalette();
  UniquePalette owner(MakePaletteHandle(web));
  HPALETTE h = owner.get();
  ASSERT_NE(nullptr, h);
  TGIFPalette back = PaletteFromHandle(h);
  ASSERT_EQ(216u, back.Entries.size());
  for (size_t i = 0; i < 216; ++i) {
    EXPECT_EQ(web.Entries[i].Red, back.Entries[i].Red);
    EXPECT_EQ(web.Entries[i].Blue, back.Entries[i].Blue);
  }
  TGIFLocalColorMap map(nullptr);
  ImportPaletteHandle(map, h);
  EXPECT_EQ(216, map.Count());
  EXPECT_EQ(MakeGIFColor(255, 0, 102), map.ColorAt(182));
  UniquePalette fromMap(MakeColorMapPalette(map));
  ASSERT_NE(nullptr, fromMap.get());
  EXPECT_EQ(216u, PaletteFromHandle(fromMap.get()).Entries.size());
  EXPECT_EQ(kPaletteNoCollapse, PaletteFromHandle(fromMap.get()).Entries[3].Flags);
  EXPECT_EQ(nullptr, MakePaletteHandle(TGIFPalette{}));
  TGIFLocalColorMap empty(nullptr);
  EXPECT_EQ(nullptr, MakeColorMapPalette(empty));
}

TEST(GifWin32, HalftonePalette) {
  TGIFPalette halftone;
  try {
    halftone = HalftonePaletteEntries();
  } catch (const EOutOfResources&) {
    GTEST_SKIP() << "no screen device context";
  }
  EXPECT_GT(halftone.Entries.size(), 2u);
  EXPECT_LE(halftone.Entries.size(), 256u);
  EXPECT_TRUE(HalftonePaletteProvider != nullptr);
}

}  // namespace
}  // namespace om
