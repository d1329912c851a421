// The picture object: header, frames, reading and writing of the whole
// stream, size and colour queries, and the composed bitmap's cache.
#include <algorithm>
#include <memory>

#include "gif/gif_image.h"

namespace om {

bool PaletteDisplay = false;
bool AutoDitherActive = false;
bool RenderOnLoad = false;
bool OptimizeOnWrite = false;

TGIFPicture::TGIFPicture()
    : DrawingOptions(GIFDefaultDrawOptions),
      ReductionMethod(6),
      ReductionColorBits(8),
      DitherKind(0),
      EncoderKind(0),
      PainterPriority(3),
      SpeedPercent(100) {
  FFrames = new TGIFFrameList(this);
  FHeader = new TGIFHeader(this);
  ResetImage();
}

TGIFPicture::~TGIFPicture() {
  HaltAllPainters();
  ResetImage();
  delete FFrames;
  delete FHeader;
}

const TGraphicClass* TGIFPicture::Class() {
  static const TGraphicClass cls{"TGIFPicture", [] { return static_cast<TGraphic*>(new TGIFPicture); }};
  return &cls;
}

void TGIFPicture::Warning(TObject* sender, int severity, const std::string& message) {
  if (WarningHandler) WarningHandler(sender, severity, message);
}

void TGIFPicture::Changed() { TGraphic::Changed(); }

void TGIFPicture::Progress(TObject* sender, int stage, int percent, bool redrawNow, const std::string& message) {
  if (OnProgress) OnProgress(sender, stage, percent, redrawNow, message);
}

TGIFBitmap* TGIFPicture::NewBitmap() { return BitmapFactory ? BitmapFactory() : DefaultBitmapFactory(); }

void TGIFPicture::ResetImage() {
  HaltAllPainters();
  FRenderedBitmap.reset();
  FFrames->DeleteAll();
  FHeader->GlobalMap().ClearTable();
  FHeader->SetWidth(0);
  FHeader->SetHeight(0);
  FHeader->PackFlags();
  ReplacePalette(0);
}

void TGIFPicture::LoadFromStream(TStream& stream) {
  Progress(this, 0, 0, false, "Loading...");
  bool ok = false;
  try {
    ResetImage();
    const int64_t start = stream.Position();
    try {
      FHeader->LoadFromStream(stream);
      FFrames->LoadFromStream(stream);
      TGIFTrailer trailer(this);
      trailer.LoadFromStream(stream);
    } catch (...) {
      stream.SetPosition(start);
      throw;
    }
    ok = true;
  } catch (...) {
    Progress(this, 2, 0, true, "Loading...");
    throw;
  }
  Progress(this, 2, ok ? 100 : 0, true, "Loading...");
}

void TGIFPicture::SaveToStream(TStream& stream) {
  Progress(this, 0, 0, false, "Saving...");
  try {
    FHeader->SaveToStream(stream);
    const int n = FrameCount();
    for (int i = 0; i < n; ++i) {
      Frame(i)->SaveToStream(stream);
      Progress(FFrames, 1, (i + 1) * 100 / n, false, "Saving...");
    }
    WriteOneByte(stream, 0x3B);
  } catch (...) {
    Progress(this, 2, 0, true, "Saving...");
    throw;
  }
  Progress(this, 2, 100, true, "Saving...");
}

void TGIFPicture::StreamOut(TStream& stream) {
  if (OptimizeOnWrite) OptimizeFrames(0x1F, 0, 8, 0);
  SaveToStream(stream);
}

int TGIFPicture::NeededVersion() {
  int version = gvNone;
  for (int i = 0; i < FrameCount() && version < gv89a; ++i) version = std::max(version, Frame(i)->RequiredVersion());
  return version;
}

int TGIFPicture::ResolutionDepth() {
  int depth = std::max(0, FHeader->ResolutionBits());
  for (int i = 0; i < FrameCount(); ++i) depth = std::max(depth, Frame(i)->ResolutionDepth());
  return depth;
}

int TGIFPicture::PixelDepth() {
  int depth = FHeader->ColorBits();
  for (int i = 0; i < FrameCount(); ++i) depth = std::max(depth, Frame(i)->PixelDepth());
  return depth;
}

void TGIFPicture::ResizeWidth(int value) {
  for (int i = 0; i < FrameCount(); ++i)
    if (value < Frame(i)->Left() + Frame(i)->Width()) RaiseGIFError("Image width too small for contained frames");
  if (value != ScreenWidth()) {
    FHeader->SetWidth(value);
    DropBitmap();
    Changed();
  }
}

void TGIFPicture::ResizeHeight(int value) {
  for (int i = 0; i < FrameCount(); ++i)
    if (value < Frame(i)->Top() + Frame(i)->Height()) RaiseGIFError("Image height too small for contained frames");
  if (value != ScreenHeight()) {
    FHeader->SetHeight(value);
    DropBitmap();
    Changed();
  }
}

bool TGIFPicture::BackgroundShows() {
  if (DrawingOptions & doClearOnLoop) return true;
  // Restored to the background, or to what was before, which may be it.
  for (int i = 0; i < FrameCount(); ++i) {
    TGIFGraphicControlExtension* gce = Frame(i)->GraphicControl();
    if (gce && (gce->DisposalMethod() == 2 || gce->DisposalMethod() == 3)) return true;
  }
  if (FrameCount() == 0) return false;
  // Around the first frame, and through its transparent pixels.
  TGIFSubImage& first = *Frame(0);
  const TGIFRect r = first.FrameRect();
  if (first.IsBlank() || r.Left > 0 || r.Top > 0 || r.Right < ScreenWidth() || r.Bottom < ScreenHeight()) return true;
  return first.HasTransparency() &&
         ContainsByte(first.Pixels(), uint8_t(first.TransparentColorIndex()), first.PixelCount());
}

bool TGIFPicture::UsesDithering() const {
  if (!(DrawingOptions & doDither)) return false;
  return !(DrawingOptions & doAutoDither) || AutoDitherActive;
}

void TGIFPicture::Assign(const TPersistent* Source) {
  if (Source)
    CopyFrom(*Source);
  else
    ResetImage();
}

void TGIFPicture::CopyFrom(const TPersistent& source) {
  if (&source == this) return;
  const auto* other = dynamic_cast<const TGIFPicture*>(&source);
  if (!other) {
    // Anything a frame copies from becomes the one frame.
    ResetImage();
    std::unique_ptr<TGIFSubImage> frame(new TGIFSubImage(this));
    frame->CopyFrom(source);
    AppendFrame(frame.release());
    return;
  }
  ResetImage();
  // The source's handlers serve while copying; afterwards this image has none.
  OnProgress = other->OnProgress;
  WarningHandler = other->WarningHandler;
  struct Clear {
    TGIFPicture& P;
    ~Clear() {
      P.OnProgress = nullptr;
      P.WarningHandler = nullptr;
    }
  } clear{*this};
  Progress(this, 0, 0, false, "Copying...");
  try {
    FHeader->CopyFrom(*other->FHeader);
    PainterPriority = other->PainterPriority;
    DrawBackgroundColor = other->DrawBackgroundColor;
    DrawingOptions = other->DrawingOptions;
    ReductionMethod = other->ReductionMethod;
    DitherKind = other->DitherKind;
    const int n = other->FFrames->ItemCount();
    for (int i = 0; i < n; ++i) {
      std::unique_ptr<TGIFSubImage> frame(new TGIFSubImage(this));
      frame->CopyFrom(*other->Frame(i));
      AppendFrame(frame.release());
      Progress(this, 1, int((int64_t(i + 1) * 100 + n / 2) / n), false, "Copying...");
    }
  } catch (...) {
    Progress(this, 2, 0, false, "Copying...");
    throw;
  }
  Progress(this, 2, 100, false, "Copying...");
}



}  // namespace om

namespace om {

void TGIFPicture::ReplacePalette(uintptr_t handle) {
  if (handle == FPaletteHandle) return;
  if (FPaletteHandle) DeleteGraphicsHandle(FPaletteHandle);
  // The composed bitmap was made with the old palette.
  const bool stale = FRenderedBitmap != nullptr;
  FPaletteHandle = handle;
  if (stale) {
    DropBitmap();
    PaletteModified = true;
    Changed();
  }
}

}  // namespace om
