// The picture container: which class reads a file or clipboard format, copies
// of graphics, and change notification.
#include <gtest/gtest.h>

#include "framework/picture.h"
#include "platform/testing/temp_folder.h"

namespace om {
namespace {

// A graphic of text, read and written as its bytes.
class TTextGraphic : public TGraphic {
public:
  static const TGraphicClass* Class() {
    static const TGraphicClass cls{"TTextGraphic", [] { return static_cast<TGraphic*>(new TTextGraphic); }};
    return &cls;
  }
  const TGraphicClass* GraphicClass() const override { return Class(); }
  int ScreenWidth() const override { return int(Text.size()); }
  int ScreenHeight() const override { return Text.empty() ? 0 : 1; }
  bool IsBlank() const override { return Text.empty(); }
  void DrawOn(TCanvas&, const TRect&) override {}
  void LoadFromStream(TStream& s) override {
    Text.resize(size_t(s.Size() - s.Position()));
    s.ReadBuffer(Text.data(), int64_t(Text.size()));
    Changed();
  }
  void SaveToStream(TStream& s) override { s.WriteBuffer(Text.data(), int64_t(Text.size())); }
  void PasteFromClipboard(unsigned format, uintptr_t data, uintptr_t) override {
    Text = std::to_string(format) + ":" + std::to_string(data);
  }
  void Assign(const TPersistent* source) override {
    if (const auto* t = dynamic_cast<const TTextGraphic*>(source)) {
      Text = t->Text;
      Changed();
    } else {
      TGraphic::Assign(source);
    }
  }
  std::string Text;
};

struct Registration {
  Registration() {
    TPicture::RegisterFileFormat("TXT", "Text pictures", TTextGraphic::Class());
    TPicture::RegisterClipboardGraphic(0xC123, TTextGraphic::Class());
  }
  ~Registration() { TPicture::UnregisterGraphicClass(TTextGraphic::Class()); }
};

TEST(Picture, RegisteredClassesReadFilesAndClipboardData) {
  testing::TempFolder temp;
  temp.write("a.Txt", "hello");
  temp.write("a.xyz", "hello");
  TPicture picture;
  int changes = 0;
  picture.OnChange = [&](TObject*) { ++changes; };
  {
    Registration registered;
    EXPECT_EQ("Text pictures", TPicture::FileFormatDescription("txt"));
    picture.LoadFromFile(temp.file("a.Txt"));
    auto* text = dynamic_cast<TTextGraphic*>(picture.Graphic());
    ASSERT_NE(nullptr, text);
    EXPECT_EQ("hello", text->Text);
    EXPECT_EQ(5, picture.Width());
    try {
      picture.LoadFromFile(temp.file("a.xyz"));
      FAIL();
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ("Unknown picture file extension (.xyz)", e.Message());
    }
    EXPECT_EQ(text, picture.Graphic());  // a failed load keeps the graphic
    EXPECT_TRUE(TPicture::SupportsClipboardFormat(0xC123));
    picture.PasteFromClipboard(0xC123, 7, 0);
    EXPECT_EQ("49443:7", dynamic_cast<TTextGraphic*>(picture.Graphic())->Text);
    EXPECT_THROW(picture.PasteFromClipboard(0xC124, 7, 0), EInvalidGraphic);
  }
  EXPECT_FALSE(TPicture::SupportsClipboardFormat(0xC123));
  EXPECT_EQ(nullptr, TPicture::FileFormatClass("txt"));
  EXPECT_THROW(picture.LoadFromFile(temp.file("a.Txt")), EInvalidGraphic);
  EXPECT_EQ(2, changes);

  // Copies: a graphic of its own class; changes of the graphic reach the picture.
  TTextGraphic source;
  source.Text = "abc";
  TPicture other;
  other.Assign(&source);
  ASSERT_NE(nullptr, other.Graphic());
  EXPECT_NE(&source, other.Graphic());
  picture.Assign(&other);
  EXPECT_EQ("abc", dynamic_cast<TTextGraphic*>(picture.Graphic())->Text);
  EXPECT_NE(other.Graphic(), picture.Graphic());
  changes = 0;
  dynamic_cast<TTextGraphic*>(picture.Graphic())->Assign(&source);
  EXPECT_EQ(1, changes);
  picture.Assign(nullptr);
  EXPECT_EQ(nullptr, picture.Graphic());
  TPicture* self = &picture;
  EXPECT_THROW(source.Assign(self), EConvertError);
  EXPECT_THROW(source.ResizeWidth(3), EInvalidGraphicOperation);
}

}  // namespace
}  // namespace om
