#include "gif/gif_support.h"

#include <algorithm>

#include "framework/strutils.h"

namespace om {

void RaiseGIFError(const std::string& message) { throw GIFException(message); }

void TGIFPersistent::CopyFrom(const TPersistent& source) {
  if (const auto* codec = dynamic_cast<const TGIFPersistent*>(&source)) {
    codec->CopyTo(*this);
    return;
  }
  throw EConvertError(Format("Cannot assign an object of another class to a %s", ClassName()));
}

void TGIFPersistent::Assign(const TPersistent* Source) {
  if (!Source) TPersistent::Assign(Source);
  CopyFrom(*Source);
}

void TGIFPersistent::CopyTo(TGIFPersistent& dest) const {
  throw EConvertError(Format("Cannot assign a %s to a %s", ClassName(), dest.ClassName()));
}

uint32_t RowBytes(uint32_t pixels, uint32_t bitsPerPixel, uint32_t alignment) {
  return ((pixels * bitsPerPixel + alignment - 1) & ~(alignment - 1)) >> 3;
}

int BitsForColors(int count) {
  if (count <= 0) return 0;
  int n = 1;
  while ((1LL << n) < count) ++n;
  return n;
}

void WriteOneByte(TStream& stream, uint8_t value) { stream.Write(&value, 1); }

uint8_t ReadOneByte(TStream& stream) {
  uint8_t b = 0;
  if (stream.Read(&b, 1) != 1) b = 0;
  return b;
}

void ReadExact(TStream& stream, void* buffer, int64_t n) {
  if (n <= 0) return;
  if (stream.Read(buffer, n) != n) RaiseGIFError("Premature end of data");
}

void WriteTextBlocks(TStream& stream, const std::vector<std::string>& strings) {
  for (const std::string& s : strings) {
    size_t at = 0;
    while (at < s.size()) {
      size_t n = std::min<size_t>(255, s.size() - at);
      WriteOneByte(stream, uint8_t(n));
      stream.WriteBuffer(s.data() + at, int64_t(n));
      at += n;
    }
  }
  WriteOneByte(stream, 0);
}

void ReadTextBlocks(TStream& stream, std::vector<std::string>& strings) {
  strings.clear();
  for (;;) {
    uint8_t n = 0;
    if (stream.Read(&n, 1) != 1 || n == 0) return;
    std::string s(n, '\0');
    ReadExact(stream, s.data(), n);
    strings.push_back(std::move(s));
  }
}

}  // namespace om
