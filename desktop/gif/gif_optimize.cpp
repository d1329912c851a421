// Optimisation of an animation in place: colour maps sorted by use, unused
// transparency and disposal dropped, pixels repeating the frame underneath
// made transparent, transparent borders cropped, empty frames and
// extensions without effect removed; and frame appending.
#include <algorithm>
#include <cstring>
#include <memory>

#include "gif/gif_image.h"

namespace om {

bool ContainsByte(const uint8_t* buffer, uint8_t value, int64_t length) {
  if (!buffer || length <= 0) return false;
  return std::memchr(buffer, value, size_t(length)) != nullptr;
}

namespace {
bool Intersect(const TGIFRect& a, const TGIFRect& b, TGIFRect& out) {
  out = {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
  return out.Left < out.Right && out.Top < out.Bottom;
}
}  // namespace

bool HasRoomForColor(TGIFSubImage& frame) {
  if (frame.LocalColorMap().Count() > 0) return frame.LocalColorMap().Count() < 256;
  TGIFPicture* image = frame.Image();
  if (!image || image->HeaderColorMap().Count() == 0) return false;
  return image->HeaderColorMap().Count() < 256;
}

int PickTransparentIndex(TGIFSubImage& frame) {
  if (frame.LocalColorMap().Count() > 0) return frame.LocalColorMap().AppendColor(0);
  TGIFPicture* image = frame.Image();
  // Another frame's transparent index serves only where this frame never draws
  // that index opaque.
  for (int i = 0; i < image->FrameCount(); ++i) {
    TGIFSubImage* other = image->Frame(i);
    if (other != &frame && other->HasTransparency() && other->LocalColorMap().Count() == 0 &&
        !ContainsByte(frame.Pixels(), uint8_t(other->TransparentColorIndex()), frame.PixelCount()))
      return other->TransparentColorIndex();
  }
  return image->HeaderColorMap().AppendColor(0);
}

namespace {
int DisposalOf(TGIFSubImage& frame) { return frame.GraphicControl() ? frame.GraphicControl()->DisposalMethod() : 0; }
int DelayOf(TGIFSubImage& frame) { return frame.GraphicControl() ? frame.GraphicControl()->DelayTime() : 0; }

// True when the frame's graphic control, if any, says no more than its absence:
// no delay, no transparency, no user input, nothing to restore. Some readers
// (ImageMagick) give a frame without one the settings of the frame before, so
// a frame may lose or gain one only after a frame like this.
bool CarriesDefaults(TGIFSubImage& frame) {
  TGIFGraphicControlExtension* gce = frame.GraphicControl();
  return !gce || (gce->DelayTime() == 0 && !gce->TransparentColorFlag() && !gce->UserInputFlag() &&
                  gce->DisposalMethod() < 2);
}
}  // namespace

void MergeWithUnderlying(TGIFSubImage& f, TGIFSubImage* u) {
  if (f.IsBlank() || !u || u->IsBlank()) return;
  // Only a frame left in place (no disposal, or "do not dispose") shows under f.
  if (DisposalOf(*u) > 1) return;
  TGIFRect both;
  if (!Intersect(f.FrameRect(), u->FrameRect(), both)) return;
  const bool hadTransparency = f.HasTransparency();
  int t = hadTransparency ? f.TransparentColorIndex() : -1;
  if (!hadTransparency && !HasRoomForColor(f)) return;
  TGIFColorMap* fm = f.EffectiveColorMap();
  TGIFColorMap* um = u->EffectiveColorMap();
  const bool uTransparent = u->HasTransparency();
  const int ut = uTransparent ? u->TransparentColorIndex() : -1;
  for (int y = both.Top; y < both.Bottom; ++y)
    for (int x = both.Left; x < both.Right; ++x) {
      uint8_t& p = f.FPixels[size_t(y - f.Top()) * size_t(f.Width()) + size_t(x - f.Left())];
      const uint8_t q = u->FPixels[size_t(y - u->Top()) * size_t(u->Width()) + size_t(x - u->Left())];
      if ((t >= 0 && p == t) || (uTransparent && q == ut)) continue;
      bool equal;
      if (fm == um)
        equal = p == q;
      else
        equal = p < fm->Count() && q < um->Count() && fm->ColorAt(p) == um->ColorAt(q);
      if (!equal) continue;
      if (t < 0) {
        t = PickTransparentIndex(f);
        fm = f.EffectiveColorMap();
      }
      p = uint8_t(t);
    }
  if (!hadTransparency && t >= 0) {
    TGIFGraphicControlExtension* gce = f.GraphicControl();
    if (!gce) {
      gce = new TGIFGraphicControlExtension(&f);
      f.ExtensionList().Append(gce);
    }
    gce->SetTransparentColorFlag(true);
    gce->SetTransparentColorIndex(t);
  }
  f.DropBitmap();
}

void CropTransparentBorders(TGIFSubImage& f) {
  if (f.IsBlank() || !f.HasTransparency()) return;
  const uint8_t t = uint8_t(f.TransparentColorIndex());
  const int w = f.Width(), h = f.Height();
  auto opaque = [&](int x, int y) { return f.FPixels[size_t(y) * size_t(w) + size_t(x)] != t; };
  auto columnHas = [&](int x) {
    for (int y = 0; y < h; ++y)
      if (opaque(x, y)) return true;
    return false;
  };
  int left = 0;
  while (left < w && !columnHas(left)) ++left;
  if (left == w) {
    f.ResetFrame();
    return;
  }
  int right = w - 1;
  while (right > left && !columnHas(right)) --right;
  auto rowHas = [&](int y) {
    for (int x = left; x <= right; ++x)
      if (opaque(x, y)) return true;
    return false;
  };
  int top = 0;
  while (top < h && !rowHas(top)) ++top;
  int bottom = h - 1;
  while (bottom > top && !rowHas(bottom)) --bottom;
  const int nw = right - left + 1, nh = bottom - top + 1;
  if (nw == w && nh == h) return;
  TGIFPixels cropped(size_t(nw) * size_t(nh));
  for (int y = 0; y < nh; ++y)
    std::memcpy(&cropped[size_t(y) * size_t(nw)], &f.FPixels[size_t(y + top) * size_t(w) + size_t(left)], size_t(nw));
  f.StoreBounds(f.Left() + left, f.Top() + top, nw, nh);
  f.FPixels = std::move(cropped);
  f.DropBitmap();
}

namespace {
bool ContainsOpaquePixel(TGIFSubImage& f) {
  const uint8_t t = uint8_t(f.TransparentColorIndex());
  const uint8_t* p = f.Pixels();
  for (int64_t i = 0, n = f.PixelCount(); i < n; ++i)
    if (p[i] != t) return true;
  return false;
}
}  // namespace

// A frame that draws nothing (its disposal 0, 1 or 3 leaves the screen as it
// was). It goes when its time can be added to the frame before, which stays
// on the screen meanwhile (disposal 0 or 1); its loop extension moves to the
// frame after it. Readers differ on a delay of 0 (no time at all, or a short
// while), so neither it nor the frame before may have one: only then does
// the animation run the same under both readings. Otherwise it shrinks to
// one transparent pixel and keeps its time; the pixel stays on the screen,
// which keeps its size.
void TGIFPicture::DropEmptyFrame(int k) {
  TGIFSubImage& f = *Frame(k);
  const int delay = DelayOf(f);
  bool drop = k > 0 && delay > 0 && !Frame(k - 1)->IsBlank() && DisposalOf(*Frame(k - 1)) <= 1 &&
              DelayOf(*Frame(k - 1)) > 0 && DelayOf(*Frame(k - 1)) + delay <= 0xFFFF;
  // The frame after it would take the settings of another frame.
  if (k + 1 < FrameCount() && !Frame(k + 1)->GraphicControl() && !CarriesDefaults(f)) drop = false;
  TGIFAppExtNSLoop* loop = nullptr;
  for (int e = 0; e < f.ExtensionList().ItemCount() && !loop; ++e)
    loop = dynamic_cast<TGIFAppExtNSLoop*>(f.ExtensionList().Extension(e));
  if (loop && k + 1 >= FrameCount()) drop = false;
  if (!drop) {
    f.StoreBounds(std::min(f.Left(), std::max(0, ScreenWidth() - 1)), std::min(f.Top(), std::max(0, ScreenHeight() - 1)),
                  1, 1);
    f.FPixels.assign(1, uint8_t(f.TransparentColorIndex()));
    f.DropBitmap();
    return;
  }
  TGIFGraphicControlExtension* before = Frame(k - 1)->GraphicControl();
  before->SetDelayTime(before->DelayTime() + delay);
  if (loop) {
    // Into the next frame's list, ahead of its other extensions.
    TGIFSubImage& next = *Frame(k + 1);
    auto* moved = new TGIFAppExtNSLoop(&next);
    moved->Identifier = loop->Identifier;
    moved->LoopCount = loop->LoopCount;
    moved->BufferBytes = loop->BufferBytes;
    moved->BlockSize = loop->BlockSize;
    moved->ExtraBytes = loop->ExtraBytes;
    next.ExtensionList().Insert(0, moved);
  }
  FFrames->DeleteAt(k);
}

void TGIFPicture::OptimizeFrames(uint8_t options, int reductionMethod, int, int) {
  if (FrameCount() == 0) return;
  HaltAllPainters();
  Progress(this, 0, 0, false, "Optimizing...");
  const int total = 6 * FrameCount();
  int counter = 0;
  auto report = [&] { Progress(this, 1, int(int64_t(counter) * 100 / total), false, "Optimizing..."); };
  try {
    if (options & optSortColorMaps) {
      if (HeaderColorMap().Count() > 0) HeaderColorMap().Reorder();
      for (int i = 0; i < FrameCount(); ++i) {
        ++counter;
        if (Frame(i)->LocalColorMap().Count() > 0) Frame(i)->LocalColorMap().Reorder();
        report();
      }
    }
    if (options & optRemoveUnneeded) {
      for (int i = 0; i < FrameCount(); ++i) {
        ++counter;
        TGIFSubImage& f = *Frame(i);
        if (f.HasTransparency() && f.GraphicControl() &&
            !ContainsByte(f.Pixels(), uint8_t(f.TransparentColorIndex()), f.PixelCount())) {
          f.GraphicControl()->SetTransparentColorFlag(false);
          report();
        }
      }
      // Disposal has no effect when the next frame draws over all of this
      // frame opaquely and is not itself restored to what was under it.
      for (int i = 0; i + 1 < FrameCount(); ++i) {
        ++counter;
        TGIFSubImage& f = *Frame(i);
        TGIFSubImage& next = *Frame(i + 1);
        TGIFGraphicControlExtension* gce = f.GraphicControl();
        TGIFRect both;
        if (gce && (gce->DisposalMethod() == 2 || gce->DisposalMethod() == 3) && !next.HasTransparency() &&
            Intersect(f.FrameRect(), next.FrameRect(), both)) {
          if (both == f.FrameRect() && !next.IsBlank() && DisposalOf(next) != 3) gce->SetDisposalMethod(0);
          report();
        }
      }
    } else {
      counter += 2 * FrameCount();
    }
    if (options & optMergeWithUnderlying) {
      for (int k = FrameCount() - 1; k >= 1; --k) {
        ++counter;
        int b = k - 1;
        while (b > 0 && DisposalOf(*Frame(b)) == 3) --b;
        if (Frame(k)->GraphicControl() || CarriesDefaults(*Frame(k - 1))) MergeWithUnderlying(*Frame(k), Frame(b));
        report();
      }
    } else {
      counter += FrameCount();
    }
    if (options & optCropTransparentBorders) {
      for (int k = FrameCount() - 1; k >= 0; --k) {
        ++counter;
        TGIFSubImage& f = *Frame(k);
        // A frame restored to the background clears its whole area: its
        // size stays (as do frames of reserved disposal values).
        const int disposal = DisposalOf(f);
        if (f.IsBlank() || !f.HasTransparency() || disposal == 2 || disposal > 3) continue;
        if (!ContainsOpaquePixel(f))
          DropEmptyFrame(k);
        else
          CropTransparentBorders(f);
        report();
      }
    } else {
      counter += FrameCount();
    }
    counter += FrameCount();
    if (options & optRemoveUnneeded) {
      // The picture's loop count is the first loop extension's.
      TGIFAppExtNSLoop* keptLoop = nullptr;
      for (int i = 0; i < FrameCount() && !keptLoop && FrameCount() > 1; ++i) {
        TGIFExtensionList& list = Frame(i)->ExtensionList();
        for (int e = 0; e < list.ItemCount() && !keptLoop; ++e)
          keptLoop = dynamic_cast<TGIFAppExtNSLoop*>(list.Extension(e));
      }
      for (int i = FrameCount() - 1; i >= 0; --i) {
        TGIFSubImage& f = *Frame(i);
        TGIFExtensionList& list = f.ExtensionList();
        for (int e = list.ItemCount() - 1; e >= 0; --e) {
          TGIFExtension* ext = list.Extension(e);
          const bool loop = dynamic_cast<TGIFAppExtNSLoop*>(ext) != nullptr;
          if (dynamic_cast<TGIFCommentExtension*>(ext) || dynamic_cast<TGIFTextExtension*>(ext) ||
              dynamic_cast<TGIFUnknownAppExtension*>(ext) || dynamic_cast<TGIFUnknownExtension*>(ext) ||
              (loop && ext != keptLoop))
            list.DeleteAt(e);
        }
        if (TGIFGraphicControlExtension* gce = f.GraphicControl()) {
          const bool single = FrameCount() == 1;
          if ((gce->DelayTime() == 0 || single) && !gce->TransparentColorFlag() && !gce->UserInputFlag() &&
              (gce->DisposalMethod() < 2 || single) && (i == 0 || single || CarriesDefaults(*Frame(i - 1))))
            for (int e = list.ItemCount() - 1; e >= 0; --e)
              if (list.Extension(e) == gce) {
                list.DeleteAt(e);
                break;
              }
        }
        if (f.IsBlank() && list.ItemCount() == 0) FFrames->DeleteAt(i);
      }
      report();
    } else if ((options & optReduceColors) && reductionMethod == 9) {
      RaiseGIFError("Invalid reduction method");
    }
  } catch (...) {
    Progress(this, 2, 0, false, "Optimizing...");
    throw;
  }
  DropBitmap();
  Progress(this, 2, 100, false, "Optimizing...");
}

int TGIFPicture::AppendFrame(TPersistent* source) {
  auto* frame = dynamic_cast<TGIFSubImage*>(source);
  if (frame) {
    if (frame->Image() != this) frame->MoveToImage(this);
    FFrames->Detach(frame);
  } else if (auto* graphic = dynamic_cast<TGraphic*>(source)) {
    std::unique_ptr<TGIFSubImage> copy(new TGIFSubImage(this));
    copy->CopyFrom(*graphic);
    frame = copy.release();
  } else {
    RaiseGIFError("Object type not supported for operation");
  }
  const int index = FFrames->Append(frame);
  DropBitmap();
  Changed();
  return index;
}

}  // namespace om
