// Extension blocks that precede a frame, their registries and the frame's
// extension list.
#include <algorithm>
#include <cstring>

#include "gif/gif_image.h"

namespace om {

// --- TGIFExtension -------------------------------------------------------------

TGIFExtension::TGIFExtension(TGIFSubImage* frame)
    : TGIFItem(frame ? frame->OwnerImage() : nullptr), FFrame(frame) {}

TGIFExtension::~TGIFExtension() {
  if (FFrame) FFrame->ExtensionList().Detach(this);
}

void TGIFExtension::SaveToStream(TStream& stream) {
  WriteOneByte(stream, 0x21);
  WriteOneByte(stream, ExtensionLabel());
  WriteBody(stream);
}

void TGIFExtension::LoadFromStream(TStream& stream) {
  uint8_t head[2];
  ReadExact(stream, head, 2);
  if (head[0] != 0x21) RaiseGIFError("Invalid extension introducer");
  if (head[1] != ExtensionLabel()) RaiseGIFError("Internal error: Extension Instance does not match Extension Label");
  ReadBody(stream);
}

namespace {

const TGIFExtensionClass* ResolveSelf(const TGIFExtensionClass* self, TStream&) { return self; }

// Application extensions: the identifier decides the class.
const TGIFExtensionClass* ResolveApplication(const TGIFExtensionClass* self, TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t size = 0;
  if (stream.Read(&size, 1) != 1) return nullptr;
  if (size == 10) {
    uint8_t skip[10];
    return stream.Read(skip, 10) == 10 ? TGIFUnknownAppExtension::Class() : nullptr;
  }
  TGIFAppIdentifier id{};
  if (size != 11 || stream.Read(id.data(), 11) != 11) {
    stream.SetPosition(start);
    return self;
  }
  const TGIFExtensionClass* cls = AppExtensionRegistry().ClassForIdentifier(id);
  return cls ? cls : TGIFUnknownAppExtension::Class();
}

template <class T>
TGIFExtension* CreateExtension(TGIFSubImage* frame) {
  return new T(frame);
}

}  // namespace

// --- Graphic control -------------------------------------------------------------

const TGIFExtensionClass* TGIFGraphicControlExtension::Class() {
  static const TGIFExtensionClass cls{"TGIFGraphicControlExtension", 0xF9,
                                      CreateExtension<TGIFGraphicControlExtension>, ResolveSelf};
  return &cls;
}

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* frame) : TGIFExtension(frame) {
  if (frame && !frame->GraphicControl()) frame->SetGraphicControl(this);
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
  if (FFrame) {
    if (TransparentColorFlag()) FFrame->SetHasTransparency(false);
    if (FFrame->GraphicControl() == this) FFrame->SetGraphicControl(nullptr);
  }
}

void TGIFGraphicControlExtension::SetTransparentColorFlag(bool value) {
  FPacked = uint8_t(value ? FPacked | 1 : FPacked & ~1);
  if (FFrame) FFrame->SetHasTransparency(value);
}

void TGIFGraphicControlExtension::SetTransparentColorIndex(int index) {
  TGIFColorMap* map = FFrame ? FFrame->EffectiveColorMap() : nullptr;
  const int count = map ? map->Count() : 0;
  if (count > 0 && (index < 0 || index >= count)) {
    Warning(gsWarning, "Invalid color index");
    index = 0;
  }
  FTransparentIndex = uint8_t(index);
}

void TGIFGraphicControlExtension::WriteBody(TStream& stream) {
  const uint8_t body[6] = {FBlockSize, FPacked, uint8_t(FDelay), uint8_t(FDelay >> 8), FTransparentIndex,
                           FTerminator};
  stream.WriteBuffer(body, 6);
}

void TGIFGraphicControlExtension::ReadBody(TStream& stream) {
  uint8_t body[6] = {FBlockSize, FPacked, uint8_t(FDelay), uint8_t(FDelay >> 8), FTransparentIndex, FTerminator};
  const int64_t n = stream.Read(body, 6);
  FBlockSize = body[0];
  FPacked = body[1];
  FDelay = uint16_t(body[2] | (body[3] << 8));
  FTransparentIndex = body[4];
  FTerminator = body[5];
  if (n < 6)
    Warning(gsWarning, "Premature end of data");
  else if (TransparentColorFlag() && FFrame)
    FFrame->SetHasTransparency(true);
}

// --- Plain text and comment ----------------------------------------------------

const TGIFExtensionClass* TGIFTextExtension::Class() {
  static const TGIFExtensionClass cls{"TGIFTextExtension", 0x01, CreateExtension<TGIFTextExtension>, ResolveSelf};
  return &cls;
}

void TGIFTextExtension::WriteBody(TStream& stream) {
  stream.WriteBuffer(Grid.data(), 13);
  WriteTextBlocks(stream, Lines);
}

void TGIFTextExtension::ReadBody(TStream& stream) {
  ReadExact(stream, Grid.data(), 13);
  ReadTextBlocks(stream, Lines);
}

const TGIFExtensionClass* TGIFCommentExtension::Class() {
  static const TGIFExtensionClass cls{"TGIFCommentExtension", 0xFE, CreateExtension<TGIFCommentExtension>,
                                      ResolveSelf};
  return &cls;
}

void TGIFCommentExtension::WriteBody(TStream& stream) { WriteTextBlocks(stream, Lines); }
void TGIFCommentExtension::ReadBody(TStream& stream) { ReadTextBlocks(stream, Lines); }

// --- Application extensions ------------------------------------------------------

TGIFAppIdentifier AppIdentifier(const char* text) {
  TGIFAppIdentifier id{};
  for (size_t i = 0; i < id.size() && text[i]; ++i) id[i] = uint8_t(text[i]);
  return id;
}

namespace {
// The base class is abstract: it only resolves; reading goes to a subclass.
TGIFExtension* CreateUnknownApp(TGIFSubImage* frame) { return new TGIFUnknownAppExtension(frame); }
}  // namespace

const TGIFExtensionClass* TGIFApplicationExtension::Class() {
  static const TGIFExtensionClass cls{"TGIFApplicationExtension", 0xFF, CreateUnknownApp, ResolveApplication};
  return &cls;
}

void TGIFApplicationExtension::WriteBody(TStream& stream) {
  const uint8_t size = BlockSize < 11 ? BlockSize : uint8_t(11 + ExtraBytes.size());
  WriteOneByte(stream, size);
  stream.WriteBuffer(Identifier.data(), std::min<int>(size, 11));
  if (!ExtraBytes.empty()) stream.WriteBuffer(ExtraBytes.data(), int64_t(ExtraBytes.size()));
  WriteAppData(stream);
}

void TGIFApplicationExtension::ReadBody(TStream& stream) {
  uint8_t n = 0;
  ReadExact(stream, &n, 1);
  if (n == 10) Identifier.fill(0);
  if (n < 11 && n != 10) RaiseGIFError("Unsupported Application Extension block size");
  ReadExact(stream, Identifier.data(), 11);
  BlockSize = n;
  ExtraBytes.clear();
  if (n > 11) {
    ExtraBytes.resize(n - 11);
    ReadExact(stream, ExtraBytes.data(), int64_t(ExtraBytes.size()));
  } else {
    stream.Seek(int64_t(n) - 11, soCurrent);
  }
  ReadAppData(stream);
}

const TGIFExtensionClass* TGIFUnknownAppExtension::Class() {
  static const TGIFExtensionClass cls{"TGIFUnknownAppExtension", 0xFF, CreateExtension<TGIFUnknownAppExtension>,
                                      ResolveApplication};
  return &cls;
}

namespace {
void WriteSubBlocks(TStream& stream, const std::vector<TGIFBlock>& blocks) {
  for (const TGIFBlock& b : blocks) {
    WriteOneByte(stream, b.Size());
    stream.WriteBuffer(b.Data.data(), b.Size());
  }
  WriteOneByte(stream, 0);
}

// Up to the terminator; the end of the stream ends the list too.
void ReadSubBlocks(TStream& stream, std::vector<TGIFBlock>& blocks) {
  blocks.clear();
  uint8_t size = 0;
  if (stream.Read(&size, 1) != 1) return;
  while (size != 0) {
    TGIFBlock block(size);
    ReadExact(stream, block.Data.data(), size);
    blocks.push_back(std::move(block));
    if (stream.Read(&size, 1) != 1) return;
  }
}
}  // namespace

void TGIFUnknownAppExtension::WriteAppData(TStream& stream) { WriteSubBlocks(stream, SubBlocks); }
void TGIFUnknownAppExtension::ReadAppData(TStream& stream) { ReadSubBlocks(stream, SubBlocks); }

// --- Unregistered labels ---------------------------------------------------------

const TGIFExtensionClass* TGIFUnknownExtension::Class() {
  static const TGIFExtensionClass cls{"TGIFUnknownExtension", 0, CreateExtension<TGIFUnknownExtension>,
                                      ResolveSelf};
  return &cls;
}

void TGIFUnknownExtension::LoadFromStream(TStream& stream) {
  uint8_t head[2];
  ReadExact(stream, head, 2);
  if (head[0] != 0x21) RaiseGIFError("Invalid extension introducer");
  FLabel = head[1];
  ReadBody(stream);
}

void TGIFUnknownExtension::WriteBody(TStream& stream) { WriteSubBlocks(stream, SubBlocks); }
void TGIFUnknownExtension::ReadBody(TStream& stream) { ReadSubBlocks(stream, SubBlocks); }

const TGIFExtensionClass* TGIFAppExtNSLoop::Class() {
  static const TGIFExtensionClass cls{"TGIFAppExtNSLoop", 0xFF, CreateExtension<TGIFAppExtNSLoop>,
                                      ResolveApplication};
  return &cls;
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* frame) : TGIFApplicationExtension(frame) {
  Identifier = AppIdentifier("NETSCAPE2.0");
}

void TGIFAppExtNSLoop::WriteAppData(TStream& stream) {
  const uint8_t loop[5] = {3, 1, uint8_t(LoopCount), uint8_t(LoopCount >> 8)};
  stream.WriteBuffer(loop, 4);
  if (BufferBytes != 0) {
    const uint8_t buffer[6] = {5, 2, uint8_t(BufferBytes), uint8_t(BufferBytes >> 8), uint8_t(BufferBytes >> 16),
                               uint8_t(BufferBytes >> 24)};
    stream.WriteBuffer(buffer, 6);
  }
  WriteOneByte(stream, 0);
}

void TGIFAppExtNSLoop::ReadAppData(TStream& stream) {
  uint8_t c = ReadOneByte(stream);
  while (c != 0) {
    const uint8_t d = ReadOneByte(stream);
    int rest = c - 1;
    if ((d & 7) == 1) {
      if (c < 3) RaiseGIFError("Invalid GIF data");
      uint8_t v[2];
      ReadExact(stream, v, 2);
      LoopCount = uint16_t(v[0] | (v[1] << 8));
      rest = c - 3;
    } else if ((d & 7) == 2) {
      if (c < 5) RaiseGIFError("Invalid GIF data");
      uint8_t v[4];
      ReadExact(stream, v, 4);
      BufferBytes = uint32_t(v[0]) | (uint32_t(v[1]) << 8) | (uint32_t(v[2]) << 16) | (uint32_t(v[3]) << 24);
      rest = c - 5;
    }
    stream.Seek(rest, soCurrent);
    c = ReadOneByte(stream);
  }
}

// --- Registries --------------------------------------------------------------------

const TGIFExtensionClass* TExtensionList::ClassForLabel(uint8_t label) const {
  for (auto it = FEntries.rbegin(); it != FEntries.rend(); ++it)
    if (it->first == label) return it->second;
  return nullptr;
}

const TGIFExtensionClass* TAppExtensionList::ClassForIdentifier(const TGIFAppIdentifier& id) const {
  for (auto it = FEntries.rbegin(); it != FEntries.rend(); ++it)
    if (it->first == id) return it->second;
  return nullptr;
}

namespace {
TExtensionList* gExtensions = nullptr;
TAppExtensionList* gAppExtensions = nullptr;
}  // namespace

TExtensionList& ExtensionRegistry() {
  if (!gExtensions) {
    gExtensions = new TExtensionList;
    gExtensions->RegisterLabel(0x01, TGIFTextExtension::Class());
    gExtensions->RegisterLabel(0xF9, TGIFGraphicControlExtension::Class());
    gExtensions->RegisterLabel(0xFE, TGIFCommentExtension::Class());
    gExtensions->RegisterLabel(0xFF, TGIFApplicationExtension::Class());
  }
  return *gExtensions;
}

TAppExtensionList& AppExtensionRegistry() {
  if (!gAppExtensions) {
    gAppExtensions = new TAppExtensionList;
    gAppExtensions->RegisterIdentifier(AppIdentifier("NETSCAPE2.0"), TGIFAppExtNSLoop::Class());
    gAppExtensions->RegisterIdentifier(AppIdentifier("ANIMEXTS1.0"), TGIFAppExtNSLoop::Class());
  }
  return *gAppExtensions;
}

void FreeExtensionRegistries() {
  delete gExtensions;
  gExtensions = nullptr;
  delete gAppExtensions;
  gAppExtensions = nullptr;
}

const TGIFExtensionClass* FindExtensionClass(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t label = 0;
  if (stream.Read(&label, 1) != 1) return nullptr;
  const TGIFExtensionClass* cls = ExtensionRegistry().ClassForLabel(label);
  // Each class may name a more specific one; stop when one names itself.
  for (int guard = 0; cls && guard < 16; ++guard) {
    const TGIFExtensionClass* next = cls->ResolveClass(cls, stream);
    if (next == cls) break;
    cls = next;
  }
  stream.SetPosition(start);
  return cls;
}

void TGIFExtensionList::LoadFromStream(TStream& stream) {
  uint8_t b = 0;
  if (stream.Read(&b, 1) != 1) return;
  bool stepBack = true;
  while (b != 0x2C && b != 0x3B) {
    if (b != 0x21) {
      Warning(gsWarning, "Invalid extension introducer");
      break;
    }
    const TGIFExtensionClass* cls = FindExtensionClass(stream);
    if (!cls) {
      // A label nobody registered is kept as it is; a registered one that
      // cannot be read (the data ends) is a fault.
      uint8_t label = 0;
      if (stream.Read(&label, 1) != 1 || ExtensionRegistry().ClassForLabel(label))
        RaiseGIFError("Unknown extension type");
      stream.Seek(-1, soCurrent);
      cls = TGIFUnknownExtension::Class();
    }
    stream.Seek(-1, soCurrent);
    TGIFExtension* ext = cls->Create(FFrame);
    try {
      ext->LoadFromStream(stream);
    } catch (...) {
      delete ext;
      throw;
    }
    Append(ext);
    if (stream.Read(&b, 1) != 1) {
      stepBack = false;
      break;
    }
  }
  if (stepBack) stream.Seek(-1, soCurrent);
}

}  // namespace om
