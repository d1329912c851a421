// Optimisation of an animation in place: colour maps sorted by use, unused
// transparency and disposal dropped, pixels repeating the frame underneath
// made transparent, transparent borders cropped, empty frames and
// extensions without effect removed; and frame appending.
#include <algorithm>
#include <cstring>

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
  for (int i = 0; i < image->FrameCount(); ++i) {
    TGIFSubImage* other = image->Frame(i);
    if (other != &frame && other->HasTransparency() && other->LocalColorMap().Count() == 0)
      return other->TransparentColorIndex();
  }
  return image->HeaderColorMap().AppendColor(0);
}

void MergeWithUnderlying(TGIFSubImage& f, TGIFSubImage* u) {
  if (f.IsBlank() || !u || u->IsBlank()) return;
  if (u->GraphicControl() && (u->GraphicControl()->DisposalMethod() == 2 || u->GraphicControl()->DisposalMethod() == 3))
    return;
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
  std::vector<uint8_t> cropped(size_t(nw) * size_t(nh));
  for (int y = 0; y < nh; ++y)
    std::memcpy(&cropped[size_t(y) * size_t(nw)], &f.FPixels[size_t(y + top) * size_t(w) + size_t(left)], size_t(nw));
  auto put = [&f](size_t at, int value) {
    f.FDescriptor[at] = uint8_t(value);
    f.FDescriptor[at + 1] = uint8_t(value >> 8);
  };
  put(1, f.Left() + left);
  put(3, f.Top() + top);
  put(5, nw);
  put(7, nh);
  f.FPixels = std::move(cropped);
  f.DropBitmap();
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
      for (int i = 0; i + 1 < FrameCount(); ++i) {
        ++counter;
        TGIFSubImage& f = *Frame(i);
        TGIFSubImage& next = *Frame(i + 1);
        TGIFGraphicControlExtension* gce = f.GraphicControl();
        TGIFRect both;
        if (gce && (gce->DisposalMethod() == 2 || gce->DisposalMethod() == 3) && !next.HasTransparency() &&
            Intersect(f.FrameRect(), next.FrameRect(), both)) {
          if (both == next.FrameRect()) gce->SetDisposalMethod(0);
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
        while (b > 0 && Frame(b)->GraphicControl() && Frame(b)->GraphicControl()->DisposalMethod() == 3) --b;
        MergeWithUnderlying(*Frame(k), Frame(b));
        report();
      }
    } else {
      counter += FrameCount();
    }
    if (options & optCropTransparentBorders) {
      for (int k = FrameCount() - 1; k >= 0; --k) {
        ++counter;
        TGIFSubImage& f = *Frame(k);
        if (f.IsBlank() || !f.HasTransparency()) continue;
        const int delay = f.GraphicControl() ? f.GraphicControl()->DelayTime() : 0;
        CropTransparentBorders(f);
        if (f.IsBlank()) {
          if (k > 0 && Frame(k - 1)->HasTransparency() && Frame(k - 1)->GraphicControl())
            Frame(k - 1)->GraphicControl()->SetDelayTime(Frame(k - 1)->GraphicControl()->DelayTime() + delay);
          FFrames->DeleteAt(k);
        }
        report();
      }
    } else {
      counter += FrameCount();
    }
    counter += FrameCount();
    if (options & optRemoveUnneeded) {
      for (int i = FrameCount() - 1; i >= 0; --i) {
        TGIFSubImage& f = *Frame(i);
        TGIFExtensionList& list = f.ExtensionList();
        for (int e = list.ItemCount() - 1; e >= 0; --e) {
          TGIFExtension* ext = list.Extension(e);
          const bool loop = dynamic_cast<TGIFAppExtNSLoop*>(ext) != nullptr;
          if (dynamic_cast<TGIFCommentExtension*>(ext) || dynamic_cast<TGIFTextExtension*>(ext) ||
              dynamic_cast<TGIFUnknownAppExtension*>(ext) || dynamic_cast<TGIFUnknownExtension*>(ext) || (loop && !(i == 0 && FrameCount() > 1)))
            list.DeleteAt(e);
        }
        if (TGIFGraphicControlExtension* gce = f.GraphicControl()) {
          const bool single = FrameCount() == 1;
          if ((gce->DelayTime() == 0 || single) && !gce->TransparentColorFlag() && !gce->UserInputFlag() &&
              (gce->DisposalMethod() < 2 || single))
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

int TGIFPicture::AppendFrame(TGIFSubImage* frame) {
  if (!frame) RaiseGIFError("Object type not supported for operation");
  if (frame->Image() != this) frame->MoveToImage(this);
  FFrames->Detach(frame);
  const int index = FFrames->Append(frame);
  DropBitmap();
  Changed();
  return index;
}

}  // namespace om
