#include "framework/picture.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "framework/strutils.h"

namespace om {

// --- TGraphic ------------------------------------------------------------------

void TGraphic::ResizeWidth(int) { throw EInvalidGraphicOperation("Cannot change the size of this graphic"); }
void TGraphic::ResizeHeight(int) { throw EInvalidGraphicOperation("Cannot change the size of this graphic"); }
void TGraphic::ReplacePalette(uintptr_t) {}

void TGraphic::LoadFromStream(TStream&) {
  throw EInvalidGraphicOperation(Format("%s cannot be read from a stream", GraphicClass()->Name));
}

void TGraphic::SaveToStream(TStream&) {
  throw EInvalidGraphicOperation(Format("%s cannot be written to a stream", GraphicClass()->Name));
}

void TGraphic::LoadFromFile(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName) {
  TFileStream stream(fileName, fmCreate);
  SaveToStream(stream);
}

void TGraphic::PasteFromClipboard(unsigned, uintptr_t, uintptr_t) {
  throw EInvalidGraphic("Unsupported clipboard format");
}

void TGraphic::CopyToClipboard(unsigned&, uintptr_t&, uintptr_t&) {
  throw EInvalidGraphicOperation(Format("%s cannot be put on the clipboard", GraphicClass()->Name));
}

void TGraphic::CopyTo(TPersistent&) const {
  throw EConvertError(Format("Cannot assign a %s to another class", GraphicClass()->Name));
}

void TGraphic::Changed() {
  if (OnChange) OnChange(this);
}

// --- Registries ----------------------------------------------------------------

namespace {

struct TFileFormat {
  std::string Extension, Description;
  const TGraphicClass* Class;
};
struct TClipboardFormat {
  unsigned Format;
  const TGraphicClass* Class;
};

std::vector<TFileFormat>& FileFormats() {
  static std::vector<TFileFormat> formats;
  return formats;
}
std::vector<TClipboardFormat>& ClipboardFormats() {
  static std::vector<TClipboardFormat> formats;
  return formats;
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(uint8_t(c)));
  return s;
}

const TFileFormat* FindFileFormat(const std::string& extension) {
  const std::string wanted = Lower(extension);
  const auto& formats = FileFormats();
  for (auto it = formats.rbegin(); it != formats.rend(); ++it)
    if (Lower(it->Extension) == wanted) return &*it;
  return nullptr;
}

const TGraphicClass* FindClipboardClass(unsigned format) {
  const auto& formats = ClipboardFormats();
  for (auto it = formats.rbegin(); it != formats.rend(); ++it)
    if (it->Format == format) return it->Class;
  return nullptr;
}

std::string ExtensionOf(const std::string& fileName) {
  const size_t dot = fileName.find_last_of('.');
  const size_t slash = fileName.find_last_of("\\/");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return fileName.substr(dot + 1);
}

}  // namespace

void TPicture::RegisterFileFormat(const std::string& extension, const std::string& description,
                                  const TGraphicClass* cls) {
  FileFormats().push_back({extension, description, cls});
}

void TPicture::RegisterClipboardGraphic(unsigned format, const TGraphicClass* cls) {
  ClipboardFormats().push_back({format, cls});
}

void TPicture::UnregisterGraphicClass(const TGraphicClass* cls) {
  auto& files = FileFormats();
  files.erase(std::remove_if(files.begin(), files.end(), [cls](const TFileFormat& f) { return f.Class == cls; }),
              files.end());
  auto& clips = ClipboardFormats();
  clips.erase(std::remove_if(clips.begin(), clips.end(), [cls](const TClipboardFormat& f) { return f.Class == cls; }),
              clips.end());
}

const TGraphicClass* TPicture::FileFormatClass(const std::string& extension) {
  const TFileFormat* f = FindFileFormat(extension);
  return f ? f->Class : nullptr;
}

std::string TPicture::FileFormatDescription(const std::string& extension) {
  const TFileFormat* f = FindFileFormat(extension);
  return f ? f->Description : std::string();
}

bool TPicture::SupportsClipboardFormat(unsigned format) { return FindClipboardClass(format) != nullptr; }

// --- TPicture ------------------------------------------------------------------

TPicture::~TPicture() = default;

void TPicture::GraphicChanged(TObject*) {
  if (OnChange) OnChange(this);
}

void TPicture::Adopt(std::unique_ptr<TGraphic> graphic) {
  FGraphic = std::move(graphic);
  if (FGraphic) FGraphic->OnChange = [this](TObject* sender) { GraphicChanged(sender); };
  GraphicChanged(this);
}

void TPicture::SetGraphic(const TGraphic* value) {
  if (value == FGraphic.get()) return;
  if (!value) {
    Adopt(nullptr);
    return;
  }
  std::unique_ptr<TGraphic> copy(value->GraphicClass()->Create());
  copy->Assign(value);
  Adopt(std::move(copy));
}

void TPicture::LoadFromFile(const std::string& fileName) {
  const std::string extension = ExtensionOf(fileName);
  const TGraphicClass* cls = FileFormatClass(extension);
  if (!cls) throw EInvalidGraphic(Format("Unknown picture file extension (.%s)", extension.c_str()));
  std::unique_ptr<TGraphic> graphic(cls->Create());
  graphic->LoadFromFile(fileName);
  Adopt(std::move(graphic));
}

void TPicture::SaveToFile(const std::string& fileName) {
  if (FGraphic) FGraphic->SaveToFile(fileName);
}

void TPicture::PasteFromClipboard(unsigned format, uintptr_t data, uintptr_t palette) {
  const TGraphicClass* cls = FindClipboardClass(format);
  if (!cls) throw EInvalidGraphic("Unsupported clipboard format");
  std::unique_ptr<TGraphic> graphic(cls->Create());
  graphic->PasteFromClipboard(format, data, palette);
  Adopt(std::move(graphic));
}

void TPicture::CopyToClipboard(unsigned& format, uintptr_t& data, uintptr_t& palette) {
  if (FGraphic) FGraphic->CopyToClipboard(format, data, palette);
}

void TPicture::Assign(const TPersistent* Source) {
  if (!Source) {
    SetGraphic(nullptr);
  } else if (const auto* picture = dynamic_cast<const TPicture*>(Source)) {
    if (picture != this) SetGraphic(picture->Graphic());
  } else if (const auto* graphic = dynamic_cast<const TGraphic*>(Source)) {
    SetGraphic(graphic);
  } else {
    TPersistent::Assign(Source);
  }
}

}  // namespace om
