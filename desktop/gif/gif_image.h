// The GIF image object: extensions, frames and the picture that owns them,
// with the reading and writing of the whole block stream. Portable: drawing
// onto device contexts, palette handles and the clipboard live in
// gif_picture_win32.cpp; here the frame renders into any TGIFBitmap.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/events.h"
#include "gif/gif_dib.h"
#include "gif/gif_items.h"
#include "gif/gif_support.h"

namespace om {

class TGIFSubImage;
class TGIFPicture;
class TGIFExtension;
class TCanvas;
class TBitmap;
class TIcon;

// Raised by a progress handler to abandon rendering.
class EAbort : public Exception {
public:
  using Exception::Exception;
};

// Warning severity of recoverable faults.
constexpr int gsWarning = 1;

// Frames larger than this many pixels are refused ("Image is too large"), so
// a forged descriptor cannot make the codec take gigabytes.
extern int64_t GIFMaxFramePixels;

// --- Extensions ---------------------------------------------------------------

// The class of an extension, as the registries hold it.
struct TGIFExtensionClass {
  const char* Name;
  uint8_t Label;
  TGIFExtension* (*Create)(TGIFSubImage* frame);
  // Which class reads the data at the stream position (after the label byte).
  const TGIFExtensionClass* (*ResolveClass)(const TGIFExtensionClass* self, TStream& stream);
};

class TGIFExtension : public TGIFItem {
public:
  explicit TGIFExtension(TGIFSubImage* frame);
  ~TGIFExtension() override;
  const char* ClassName() const override { return "TGIFExtension"; }
  TGIFSubImage* HostFrame() const { return FFrame; }
  void SetOwnerImage(TGIFPictureBase* image) { FOwnerImage = image; }
  virtual uint8_t ExtensionLabel() const = 0;
  int RequiredVersion() override { return gv89a; }
  void SaveToStream(TStream& stream) override;
  void LoadFromStream(TStream& stream) override;

protected:
  virtual void WriteBody(TStream& stream) = 0;
  virtual void ReadBody(TStream& stream) = 0;
  TGIFSubImage* FFrame;
};

class TGIFGraphicControlExtension : public TGIFExtension {
public:
  explicit TGIFGraphicControlExtension(TGIFSubImage* frame);
  ~TGIFGraphicControlExtension() override;
  const char* ClassName() const override { return "TGIFGraphicControlExtension"; }
  static const TGIFExtensionClass* Class();
  uint8_t ExtensionLabel() const override { return 0xF9; }

  bool TransparentColorFlag() const { return FPacked & 1; }
  void SetTransparentColorFlag(bool value);
  int TransparentColorIndex() const { return FTransparentIndex; }
  void SetTransparentColorIndex(int index);
  int DelayTime() const { return FDelay; }
  void SetDelayTime(int value) { FDelay = uint16_t(value); }
  bool UserInputFlag() const { return FPacked & 2; }
  int DisposalMethod() const { return (FPacked >> 2) & 7; }
  void SetDisposalMethod(int value) { FPacked = uint8_t((FPacked & ~0x1C) | ((value & 7) << 2)); }
  uint8_t PackedFields() const { return FPacked; }

protected:
  void WriteBody(TStream& stream) override;
  void ReadBody(TStream& stream) override;

private:
  uint8_t FBlockSize = 4, FPacked = 0;
  uint16_t FDelay = 0;
  uint8_t FTransparentIndex = 0, FTerminator = 0;
};

class TGIFTextExtension : public TGIFExtension {
public:
  using TGIFExtension::TGIFExtension;
  const char* ClassName() const override { return "TGIFTextExtension"; }
  static const TGIFExtensionClass* Class();
  uint8_t ExtensionLabel() const override { return 0x01; }
  std::vector<std::string> Lines;
  // Block size, grid left, top, width, height, cell width, height,
  // foreground and background index, as stored (13 bytes).
  std::array<uint8_t, 13> Grid{12};
  int GridLeft() const { return Grid[1] | (Grid[2] << 8); }
  int GridTop() const { return Grid[3] | (Grid[4] << 8); }
  int GridWidth() const { return Grid[5] | (Grid[6] << 8); }
  int GridHeight() const { return Grid[7] | (Grid[8] << 8); }

protected:
  void WriteBody(TStream& stream) override;
  void ReadBody(TStream& stream) override;
};

class TGIFCommentExtension : public TGIFExtension {
public:
  using TGIFExtension::TGIFExtension;
  const char* ClassName() const override { return "TGIFCommentExtension"; }
  static const TGIFExtensionClass* Class();
  uint8_t ExtensionLabel() const override { return 0xFE; }
  std::vector<std::string> Lines;

protected:
  void WriteBody(TStream& stream) override;
  void ReadBody(TStream& stream) override;
};

using TGIFAppIdentifier = std::array<uint8_t, 11>;
TGIFAppIdentifier AppIdentifier(const char* text);  // first 11 characters

class TGIFApplicationExtension : public TGIFExtension {
public:
  using TGIFExtension::TGIFExtension;
  const char* ClassName() const override { return "TGIFApplicationExtension"; }
  static const TGIFExtensionClass* Class();
  uint8_t ExtensionLabel() const override { return 0xFF; }
  TGIFAppIdentifier Identifier{};
  // The block as read: its size (11 in well-formed files, 10 accepted) and
  // any bytes after the identifier, written back unchanged.
  uint8_t BlockSize = 11;
  std::vector<uint8_t> ExtraBytes;
  std::string IdentifierText() const { return std::string(Identifier.begin(), Identifier.end()); }
  virtual void WriteAppData(TStream& stream) = 0;
  virtual void ReadAppData(TStream& stream) = 0;

protected:
  void WriteBody(TStream& stream) override;
  void ReadBody(TStream& stream) override;
};

struct TGIFBlock {
  explicit TGIFBlock(uint8_t size) : Data(size, 0) {}
  uint8_t Size() const { return uint8_t(Data.size()); }
  std::vector<uint8_t> Data;
};

class TGIFUnknownAppExtension : public TGIFApplicationExtension {
public:
  using TGIFApplicationExtension::TGIFApplicationExtension;
  const char* ClassName() const override { return "TGIFUnknownAppExtension"; }
  static const TGIFExtensionClass* Class();
  std::vector<TGIFBlock> SubBlocks;
  void WriteAppData(TStream& stream) override;
  void ReadAppData(TStream& stream) override;
};

class TGIFAppExtNSLoop : public TGIFApplicationExtension {
public:
  explicit TGIFAppExtNSLoop(TGIFSubImage* frame);
  const char* ClassName() const override { return "TGIFAppExtNSLoop"; }
  static const TGIFExtensionClass* Class();
  uint16_t LoopCount = 0;
  uint32_t BufferBytes = 0;  // 0: absent
  void WriteAppData(TStream& stream) override;
  void ReadAppData(TStream& stream) override;
};

// An extension of a label nobody registered: its sub-blocks, kept as read.
class TGIFUnknownExtension : public TGIFExtension {
public:
  using TGIFExtension::TGIFExtension;
  const char* ClassName() const override { return "TGIFUnknownExtension"; }
  static const TGIFExtensionClass* Class();
  uint8_t ExtensionLabel() const override { return FLabel; }
  void LoadFromStream(TStream& stream) override;
  std::vector<TGIFBlock> SubBlocks;

protected:
  void WriteBody(TStream& stream) override;
  void ReadBody(TStream& stream) override;

private:
  uint8_t FLabel = 0;
};

// Label byte -> class, searched from the last registration to the first.
class TExtensionList {
public:
  void RegisterLabel(uint8_t label, const TGIFExtensionClass* cls) { FEntries.push_back({label, cls}); }
  const TGIFExtensionClass* ClassForLabel(uint8_t label) const;

private:
  std::vector<std::pair<uint8_t, const TGIFExtensionClass*>> FEntries;
};

// Application identifier (all 11 bytes) -> class.
class TAppExtensionList {
public:
  void RegisterIdentifier(const TGIFAppIdentifier& id, const TGIFExtensionClass* cls) {
    FEntries.push_back({id, cls});
  }
  const TGIFExtensionClass* ClassForIdentifier(const TGIFAppIdentifier& id) const;

private:
  std::vector<std::pair<TGIFAppIdentifier, const TGIFExtensionClass*>> FEntries;
};

TExtensionList& ExtensionRegistry();
TAppExtensionList& AppExtensionRegistry();
void FreeExtensionRegistries();

// Positioned after the introducer: the class that reads the extension there
// (none for an unregistered label); the stream is left at the label byte.
const TGIFExtensionClass* FindExtensionClass(TStream& stream);

class TGIFExtensionList : public TGIFList {
public:
  TGIFExtensionList(TGIFPictureBase* owner, TGIFSubImage* frame) : TGIFList(owner), FFrame(frame) {}
  const char* ClassName() const override { return "TGIFExtensionList"; }
  TGIFExtension* Extension(int index) const { return static_cast<TGIFExtension*>(ItemAt(index)); }
  void SetOwnerImage(TGIFPictureBase* image) { FOwnerImage = image; }
  void LoadFromStream(TStream& stream) override;

private:
  TGIFSubImage* FFrame;
};

// --- Frames -------------------------------------------------------------------

using TGIFRect = TRect;

// Storage of a frame's pixels: growing it leaves the new bytes unset, so that
// decoding, which writes every pixel, passes over them once.
template <class T>
struct TUnsetAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = TUnsetAllocator<U>;
  };
  using std::allocator<T>::allocator;
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... A>
  void construct(U* p, A&&... a) {
    ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
  }
};
using TGIFPixels = std::vector<uint8_t, TUnsetAllocator<uint8_t>>;

class TGIFSubImage : public TGIFFrameBase {
public:
  explicit TGIFSubImage(TGIFPicture* image);
  ~TGIFSubImage() override;
  const char* ClassName() const override { return "TGIFSubImage"; }
  TGIFPicture* Image() const;

  void ResetFrame();
  // Leaves its image's frame list and belongs to another image (not listed yet).
  void MoveToImage(TGIFPicture* image);
  int BoundValue(int selector) const;
  void SetBoundValue(int selector, int value);
  void PlaceFrame(int left, int top, int width, int height);
  int Left() const { return BoundValue(1); }
  int Top() const { return BoundValue(2); }
  int Width() override { return BoundValue(3); }
  int Height() override { return BoundValue(4); }
  TGIFRect FrameRect() const;
  bool IsBlank() const;
  bool IsInterlaced() const { return FDescriptor[9] & 0x40; }
  bool Interlaced() override { return IsInterlaced(); }
  void SetInterlaced(bool value) { FDescriptor[9] = uint8_t(value ? FDescriptor[9] | 0x40 : FDescriptor[9] & ~0x40); }
  const std::array<uint8_t, 10>& Descriptor() const { return FDescriptor; }

  int RequiredVersion() override;
  int PixelDepth() const { return FLocalMap->TableBits(); }
  int ResolutionDepth() const { return std::max(0, PixelDepth() - 1); }
  TGIFColorMap* EffectiveColorMap() override;
  TGIFLocalColorMap& LocalColorMap() { return *FLocalMap; }
  TGIFExtensionList& ExtensionList() { return *FExtensions; }
  TGIFGraphicControlExtension* GraphicControl() const { return FGraphicControl; }
  void SetGraphicControl(TGIFGraphicControlExtension* gce) { FGraphicControl = gce; }
  bool HasTransparency() override { return FHasTransparency; }
  void SetHasTransparency(bool value) { FHasTransparency = value; }
  int TransparentColorIndex() override;
  void SetTransparentColorIndex(int index) override;

  uint8_t* Pixels() override { return FPixels.empty() ? nullptr : FPixels.data(); }
  int64_t PixelCount() const { return int64_t(FPixels.size()); }
  void AllocatePixels() override;
  void AllocatePixelsForDecoding() override;
  void EnsurePixels();
  uint8_t* RowAt(int row);
  uint8_t PixelAt(int x, int y);
  void DropPalette() override;

  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  // Another frame (deep copy, extensions included), a picture container's
  // graphic, or (Windows) a bitmap, icon, metafile or any other graphic.
  void CopyFrom(const TPersistent& source) override;
  // Nothing resets the frame.
  void Assign(const TPersistent* Source) override;
  // Pixels, colour map and transparency from a platform bitmap.
  void ImportBitmap(TGIFBitmap& bitmap, bool transparent = false, TGIFBitmap* mask = nullptr);
  // Windows: a framework bitmap (its mask when transparent).
  void CopyFromBitmap(TBitmap& bitmap);
  // Windows: a bitmap, or an icon, metafile or other graphic drawn into one
  // (with the icon's mask or the metafile's background as transparency).
  // Elsewhere EConvertError.
  void CopyFromGraphic(const TGraphic& graphic);
  void ImportMaskHandle(uintptr_t handle);
  void ImportIconMask(const TIcon& icon);
  // The background the graphic leaves unpainted becomes transparent.
  void ImportMetafileMask(TGraphic& graphic);
  // Windows: the rendered frame into a bitmap.
  void CopyTo(TBitmap& dest);

  // The palette the frame renders with (web palette when dithering).
  TGIFPalette FramePaletteEntries();
  // The rendered 8-bit bitmap (none for an empty frame); cached.
  TGIFBitmap* FrameBitmap();
  TGIFBitmap* BitmapCache() const { return FBitmapCache.get(); }
  void DropBitmap();
  // Rebuilds the bitmap and mask when the mask is due; true when a mask exists.
  bool MaskReady();
  // Mask rows ((width + 15) / 16 * 2 bytes, set bit = transparent); empty when none.
  const std::vector<uint8_t>& MaskBits() const { return FMaskBits; }
  int MaskRowBytes() { return (Width() + 15) / 16 * 2; }
  // Platform monochrome bitmap of the mask (made on first use), or 0.
  uintptr_t MaskHandle();
  // Platform palette of the frame (Windows), cached.
  uintptr_t QueryPalette();
  void ReplacePalette(uintptr_t handle);

private:
  friend class TGIFPicture;
  friend void CropTransparentBorders(TGIFSubImage& frame);
  friend void MergeWithUnderlying(TGIFSubImage& frame, TGIFSubImage* underlying);
  void RenderPlain(TGIFBitmap& bitmap);
  void RenderDithered(TGIFBitmap& bitmap);
  // Fills the pixels row by row: convert(source row, pixel row, width).
  template <class Convert>
  void ImportRows(TDIBReader& reader, Convert convert);
  void ImportIndexedRows(TDIBReader& reader, TGIFPixelFormat format);
  void ImportRows24(TDIBReader& reader);
  void ImportMaskBitmap(TGIFBitmap& mask);
  void DeleteMask();
  // Writes the descriptor's bounds, nothing else: pixels, caches and the
  // screen stay as they are.
  void StoreBounds(int left, int top, int width, int height);
  // Progress every 32 rows, under that stage text.
  void RowProgress(int row, const char* stage = "Rendering...");

  std::unique_ptr<TGIFBitmap> FBitmapCache;
  std::vector<uint8_t> FMaskBits;
  uintptr_t FMaskHandle = 0;
  bool FMaskNeeded = true;
  uintptr_t FFramePalette = 0;
  TGIFPixels FPixels;
  TGIFLocalColorMap* FLocalMap;
  std::array<uint8_t, 10> FDescriptor{0x2C};
  TGIFExtensionList* FExtensions;
  bool FHasTransparency = false;
  TGIFGraphicControlExtension* FGraphicControl = nullptr;
};

class TGIFFrameList : public TGIFList {
public:
  using TGIFList::TGIFList;
  const char* ClassName() const override { return "TGIFFrameList"; }
  TGIFSubImage* Frame(int index) const { return static_cast<TGIFSubImage*>(ItemAt(index)); }
  void LoadFromStream(TStream& stream) override;
};

class TGIFTrailer : public TGIFItem {
public:
  using TGIFItem::TGIFItem;
  const char* ClassName() const override { return "TGIFTrailer"; }
  void SaveToStream(TStream& stream) override { WriteOneByte(stream, 0x3B); }
  void LoadFromStream(TStream& stream) override;
};

class TGIFPainter;

// --- The picture ----------------------------------------------------------------

enum : uint16_t {
  doAsync = 0x0001,
  doTransparent = 0x0002,
  doAnimate = 0x0004,
  doLoop = 0x0008,
  doLoopForever = 0x0010,
  doCheckCanvas = 0x0020,
  doDirectDraw = 0x0040,
  doClearOnLoop = 0x0080,
  doTile = 0x0100,
  doDither = 0x0200,
  doAutoDither = 0x0400,
};
constexpr uint16_t GIFDefaultDrawOptions = 0x060F;

enum : uint8_t {
  optCropTransparentBorders = 0x01,
  optMergeWithUnderlying = 0x02,
  optRemoveUnneeded = 0x04,
  optSortColorMaps = 0x08,
  optReduceColors = 0x10,
};

// Frame steps of the optimisation.
bool ContainsByte(const uint8_t* buffer, uint8_t value, int64_t length);
void CropTransparentBorders(TGIFSubImage& frame);
void MergeWithUnderlying(TGIFSubImage& frame, TGIFSubImage* underlying);
bool HasRoomForColor(TGIFSubImage& frame);
int PickTransparentIndex(TGIFSubImage& frame);

// Unit-wide settings.
extern bool PaletteDisplay;
extern bool AutoDitherActive;
extern bool RenderOnLoad;
extern bool OptimizeOnWrite;

// Stage 0 starting, 1 running, 2 ending.
using TGIFProgressFn =
    std::function<void(TObject* sender, int stage, int percent, bool redrawNow, const std::string& message)>;
using TGIFPictureWarningFn = std::function<void(TObject* sender, int severity, const std::string& message)>;

class TGIFPicture : public TGraphic, public TGIFPictureBase {
public:
  TGIFPicture();
  ~TGIFPicture() override;
  const char* ClassName() const { return "TGIFPicture"; }
  static const TGraphicClass* Class();
  const TGraphicClass* GraphicClass() const override { return Class(); }

  // TGIFPictureBase
  void Warning(TObject* sender, int severity, const std::string& message) override;
  int NeededVersion() override;
  int ResolutionDepth() override;
  int PixelDepth() override;
  // Change notification of the graphic (OnChange).
  void Changed() override;
  int FrameCount() override { return FFrames->ItemCount(); }
  TGIFFrameBase* FrameAt(int index) override { return FFrames->Frame(index); }
  bool BackgroundShows() override;

  TGIFSubImage* Frame(int index) const { return FFrames->Frame(index); }
  TGIFFrameList& Frames() { return *FFrames; }
  TGIFHeader& Header() { return *FHeader; }
  TGIFColorMap& HeaderColorMap() { return FHeader->GlobalMap(); }
  TGIFColor BackgroundColor() { return FHeader->BackgroundColor(); }

  // TGraphic
  void ResetImage();
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  // Writing as a component property: optimised first when OptimizeOnWrite.
  void StreamOut(TStream& stream) override;
  bool IsBlank() const override { return FFrames->ItemCount() == 0; }
  int ScreenWidth() const override { return FHeader->Width(); }
  int ScreenHeight() const override { return FHeader->Height(); }
  void ResizeWidth(int value) override;
  void ResizeHeight(int value) override;
  bool UsesDithering() const;

  // Another picture (header, options and a copy of every frame), or any
  // source a frame copies from as the one frame. The framework's Assign
  // calls it; Assign(nullptr) resets the picture.
  void CopyFrom(const TPersistent& source);
  void Assign(const TPersistent* Source) override;
  // Windows: the composed picture into a bitmap; other destinations raise
  // EConvertError.
  void CopyTo(TPersistent& dest) const override;
  void CopyTo(TBitmap& dest);
  // Windows: the clipboard ("GIF Image" format, or a bitmap).
  void PasteFromClipboard(unsigned format, uintptr_t data, uintptr_t palette) override;
  void CopyToClipboard(unsigned& format, uintptr_t& data, uintptr_t& palette) override;

  // A new bitmap of the platform (the framework bitmap on Windows).
  std::function<TGIFBitmap*()> BitmapFactory;
  TGIFBitmap* NewBitmap();

  // Progress report through OnProgress.
  void Progress(TObject* sender, int stage, int percent, bool redrawNow, const std::string& message);

  uint16_t DrawingOptions;
  uint8_t ReductionMethod;
  int32_t ReductionColorBits;
  uint8_t DitherKind;
  uint8_t EncoderKind;
  uint8_t PainterPriority;
  int32_t SpeedPercent;
  uint32_t DrawBackgroundColor = 0x1FFFFFFF;
  TGIFPictureWarningFn WarningHandler;
  TGIFProgressFn OnProgress;

  // Whole-image bitmap (first frame on the logical screen), cached.
  TGIFBitmap* ComposedBitmap();
  TGIFBitmap* PrepareBitmap();
  TGIFBitmap* RenderedBitmap() const { return FRenderedBitmap.get(); }
  // Stops the painter drawing into the composed bitmap, then frees it.
  void DropBitmap();
  // Shrinks an animation in place (options: the opt* bits below).
  void OptimizeFrames(uint8_t options, int reductionMethod, int reductionBits, int ditherMode);
  // A frame (taken over) or a copy of any graphic a frame copies from, as a
  // new last frame; returns its index. Anything else raises
  // "Object type not supported for operation".
  int AppendFrame(TPersistent* source);

  // Animation painters (Windows): the painters of this picture, the one
  // drawing through DrawOn, and the events copied into every new painter.
  // Every look at or change of the list or of ActivePainter holds PainterLock.
  std::recursive_mutex PainterLock;
  std::vector<TGIFPainter*> PainterList;
  TGIFPainter* ActivePainter = nullptr;
  TNotifyEvent OnStartPaint, OnPaint, OnAfterPaint, OnLoop, OnEndPaint;
  // Stop ActivePainter, or every painter, and wait until their threads have
  // ended (serving their calls into this thread meanwhile); both drop the
  // composed bitmap. KillAsyncPainters ends the threaded painters the same way.
  void HaltDrawPainter();
  void HaltAllPainters();
  void KillAsyncPainters();
  // A new painter on canvas/rect; threaded ones are returned unstarted, the
  // others are run to their end here and none is returned.
  TGIFPainter* StartPainter(TGIFPainter*& holder, TCanvas& canvas, uint16_t options, const TGIFRect& rect);

  // Platform palette (Windows); 0 elsewhere.
  uintptr_t QueryPalette() override;
  void ReplacePalette(uintptr_t handle) override;

  // Drawing (Windows).
  void DrawOn(TCanvas& canvas, const TGIFRect& rect) override;
  TGIFRect ScaleFrameRect(TGIFSubImage& frame, const TGIFRect& rect);
  void DrawFrame(TGIFSubImage& frame, TCanvas& canvas, const TGIFRect& rect, bool tile, bool transparent);
  void DrawFrameAt(TGIFSubImage& frame, TCanvas& canvas, const TGIFRect& rect, bool tile, bool transparent);
  void BlitComposed(TCanvas& canvas, const TGIFRect& rect, TGIFBitmap& bitmap);

private:
  void BitmapChanged(TObject* sender);
  void DropEmptyFrame(int index);
  // Stops the painters (only ActivePainter when activeOnly) and waits for
  // their threads; the composed bitmap goes afterwards, or with a painter that
  // cannot be waited for here (its call into this thread is under way).
  void StopPainters(bool activeOnly);
  bool FDrawing = false;
  bool FInPaletteQuery = false;
  TGIFFrameList* FFrames;
  TGIFHeader* FHeader;
  uintptr_t FPaletteHandle = 0;
  std::unique_ptr<TGIFBitmap> FRenderedBitmap;
};

// Platform glue: handles are deleted and masks made by the Windows side; the
// portable build has neither.
void DeleteGraphicsHandle(uintptr_t handle);
uintptr_t MakeMaskHandle(const uint8_t* bits, int width, int height);
TGIFBitmap* DefaultBitmapFactory();

}  // namespace om
