// Graphics and pictures: the base of every image class (size, emptiness,
// drawing, copying, streams and the clipboard) and the picture container that
// holds one graphic and knows which class reads which file extension and which
// clipboard format. Portable: drawing needs a canvas, which only Windows has.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "framework/component.h"
#include "framework/exceptions.h"
#include "framework/streams.h"

namespace om {

class TCanvas;
class TGraphic;

// Left, top, right and bottom edges; right and bottom are outside.
struct TRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool operator==(const TRect& o) const {
    return Left == o.Left && Top == o.Top && Right == o.Right && Bottom == o.Bottom;
  }
};

// Errors of the graphics layer: data a graphic cannot take, and operations it
// cannot do.
class EInvalidGraphic : public Exception {
public:
  using Exception::Exception;
};
class EInvalidGraphicOperation : public Exception {
public:
  using Exception::Exception;
};

// A graphic class as the registries hold it: its name and how to make one.
struct TGraphicClass {
  const char* Name;
  TGraphic* (*Create)();
};

class TGraphic : public TPersistent {
public:
  virtual const TGraphicClass* GraphicClass() const = 0;

  virtual int ScreenWidth() const = 0;
  virtual int ScreenHeight() const = 0;
  virtual bool IsBlank() const = 0;
  // The graphic drawn into rect of the canvas.
  virtual void DrawOn(TCanvas& canvas, const TRect& rect) = 0;
  // True only for the very same graphic.
  virtual bool IsSameAs(const TGraphic* other) const { return other == this; }
  virtual void ResizeWidth(int value);
  virtual void ResizeHeight(int value);
  // A palette handle the graphic keeps (0: none); replacing it hands it over.
  virtual uintptr_t QueryPalette() { return 0; }
  virtual void ReplacePalette(uintptr_t handle);

  virtual void LoadFromStream(TStream& stream);
  virtual void SaveToStream(TStream& stream);
  // Written as a property of a component.
  virtual void StreamOut(TStream& stream) { SaveToStream(stream); }
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);
  // Clipboard data of a format (a handle of the platform); data 0 asks the
  // clipboard itself. CopyToClipboard fills the three for the caller to place.
  virtual void PasteFromClipboard(unsigned format, uintptr_t data, uintptr_t palette);
  virtual void CopyToClipboard(unsigned& format, uintptr_t& data, uintptr_t& palette);

  // Copies this graphic into dest (another class); the base raises EConvertError.
  virtual void CopyTo(TPersistent& dest) const;

  // Change notification; sender is the graphic or the part that changed.
  std::function<void(TObject* sender)> OnChange;
  virtual void Changed();
  bool PaletteModified = false;
};

// Holds one graphic (owned) of any registered class.
class TPicture : public TPersistent {
public:
  TPicture() = default;
  ~TPicture() override;

  TGraphic* Graphic() const { return FGraphic.get(); }
  // A copy of value (of its own class); nullptr empties the picture.
  void SetGraphic(const TGraphic* value);
  int Width() const { return FGraphic ? FGraphic->ScreenWidth() : 0; }
  int Height() const { return FGraphic ? FGraphic->ScreenHeight() : 0; }

  // The class registered for the file's extension reads the file.
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);
  // The class registered for the clipboard format takes the data.
  void PasteFromClipboard(unsigned format, uintptr_t data, uintptr_t palette);
  void CopyToClipboard(unsigned& format, uintptr_t& data, uintptr_t& palette);

  // A picture (its graphic copied), a graphic (copied) or nothing.
  void Assign(const TPersistent* Source) override;

  // Registries, searched from the last registration to the first. Extensions
  // are given without the dot and compared without regard to case.
  static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                 const TGraphicClass* cls);
  static void RegisterClipboardGraphic(unsigned format, const TGraphicClass* cls);
  static void UnregisterGraphicClass(const TGraphicClass* cls);
  static const TGraphicClass* FileFormatClass(const std::string& extension);
  static std::string FileFormatDescription(const std::string& extension);
  static bool SupportsClipboardFormat(unsigned format);

  std::function<void(TObject* sender)> OnChange;

private:
  void Adopt(std::unique_ptr<TGraphic> graphic);
  void GraphicChanged(TObject* sender);
  std::unique_ptr<TGraphic> FGraphic;
};

}  // namespace om
