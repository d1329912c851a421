#include "tray/agent_protocol.h"

#include <cstring>

namespace om {

uint32_t SwapBytes32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

uint64_t SwapBytes64(uint64_t v) {
  return (static_cast<uint64_t>(SwapBytes32(static_cast<uint32_t>(v))) << 32) |
         SwapBytes32(static_cast<uint32_t>(v >> 32));
}

std::string EncodeRequest(uint8_t code) { return std::string(1, static_cast<char>(code)); }

std::string EncodeGetSetting(const std::string& name) {
  std::string out(1, static_cast<char>(cmdGetSetting));
  out += name;
  out += '\0';
  return out;
}

std::string EncodeSetSetting(const std::string& utf8Assignment) {
  std::string out(1, static_cast<char>(cmdSetSetting));
  out += utf8Assignment;
  out += '\0';
  return out;
}

std::string EncodeGetClientVersion() { return std::string{static_cast<char>(cmdGetClientVersion), '\0'}; }

namespace {

uint32_t BigEndian32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

uint64_t BigEndian64(const uint8_t* p) {
  return (static_cast<uint64_t>(BigEndian32(p)) << 32) | BigEndian32(p + 4);
}

// A big-endian number of sizeof(T) bytes.
template <class T>
T BigEndian(const uint8_t* p) {
  if constexpr (sizeof(T) == 1) return static_cast<T>(p[0]);
  else if constexpr (sizeof(T) == 4) return static_cast<T>(BigEndian32(p));
  else return static_cast<T>(BigEndian64(p));
}

// A reply of one fixed-width number.
template <class T>
TDecodeStatus DecodeFixed(const uint8_t* data, size_t size, T& value, TDecodeInfo& info) {
  if (size < sizeof(T)) return TDecodeStatus::NeedMore;
  value = BigEndian<T>(data);
  info.Consumed = sizeof(T);
  return TDecodeStatus::Complete;
}

TDecodeStatus Malformed(TDecodeInfo& info, const char* error) {
  info.Error = error;
  return TDecodeStatus::Malformed;
}

// Text up to a terminator of one or two bytes, at most kMaxReplyText bytes.
TDecodeStatus DecodeTerminated(const uint8_t* data, size_t size, const char* term, size_t termLen,
                               std::string& text, TDecodeInfo& info, const char* tooLong) {
  size_t limit = kMaxReplyText + termLen;
  size_t n = size < limit ? size : limit;
  size_t i = info.Resume;
  for (; i + termLen <= n; ++i) {
    if (std::memcmp(data + i, term, termLen) == 0) {
      text.assign(reinterpret_cast<const char*>(data), i);
      info.Consumed = i + termLen;
      return TDecodeStatus::Complete;
    }
  }
  info.Resume = i;
  if (size >= limit) return Malformed(info, tooLong);
  return TDecodeStatus::NeedMore;
}

}  // namespace

TDecodeStatus DecodePrompt(const uint8_t* data, size_t size, TDecodeInfo& info) {
  if (size == 0) return TDecodeStatus::NeedMore;
  size_t n = size < kMaxReplyText ? size : kMaxReplyText;
  const size_t from = info.Resume < n ? info.Resume : n;
  const void* gt = std::memchr(data + from, kAgentPrompt, n - from);
  if (gt) {
    info.Consumed = static_cast<size_t>(static_cast<const uint8_t*>(gt) - data) + 1;
    return TDecodeStatus::Complete;
  }
  info.Resume = n;
  if (size >= kMaxReplyText) return Malformed(info, "no prompt from the agent");
  return TDecodeStatus::NeedMore;
}

TDecodeStatus DecodeByte(const uint8_t* data, size_t size, uint8_t& value, TDecodeInfo& info) {
  return DecodeFixed(data, size, value, info);
}

TDecodeStatus DecodeState(const uint8_t* data, size_t size, int32_t& state, TDecodeInfo& info) {
  return DecodeFixed(data, size, state, info);
}

TDecodeStatus DecodeNextBackup(const uint8_t* data, size_t size, TNextBackupReply& reply, TDecodeInfo& info) {
  if (size < 8) return TDecodeStatus::NeedMore;
  int64_t millis = static_cast<int64_t>(BigEndian64(data));
  if (millis <= 0) {
    reply.Millis = millis;
    reply.HasId = false;
    reply.Id.clear();
    info.Consumed = 8;
    return TDecodeStatus::Complete;
  }
  std::string id;
  TDecodeInfo inner;
  inner.Resume = info.Resume > 8 ? info.Resume - 8 : 0;
  TDecodeStatus st = DecodeTerminated(data + 8, size - 8, "", 1, id, inner, "backup identifier too long");
  if (st == TDecodeStatus::Malformed) return Malformed(info, inner.Error.c_str());
  if (st == TDecodeStatus::NeedMore) {
    info.Resume = 8 + inner.Resume;
    return st;
  }
  reply.Millis = millis;
  reply.HasId = true;
  reply.Id = std::move(id);
  info.Consumed = 8 + inner.Consumed;
  return TDecodeStatus::Complete;
}

TDecodeStatus DecodeLastBackup(const uint8_t* data, size_t size, int64_t& millis, TDecodeInfo& info) {
  return DecodeFixed(data, size, millis, info);
}

TDecodeStatus DecodeNotification(const uint8_t* data, size_t size, TNotificationReply& reply, TDecodeInfo& info) {
  if (size < 16) return TDecodeStatus::NeedMore;
  int32_t count = static_cast<int32_t>(BigEndian32(data + 12));
  if (count < 0) return Malformed(info, "negative notification length");
  if (static_cast<uint32_t>(count) > kMaxReplyText) return Malformed(info, "notification text too long");
  size_t total = 16 + static_cast<size_t>(count);
  if (size < total) return TDecodeStatus::NeedMore;
  reply.Stamp = static_cast<int64_t>(BigEndian64(data));
  reply.Kind = static_cast<int32_t>(BigEndian32(data + 8));
  reply.Text.assign(reinterpret_cast<const char*>(data + 16), static_cast<size_t>(count));
  info.Consumed = total;
  return TDecodeStatus::Complete;
}

TDecodeStatus DecodeZeroText(const uint8_t* data, size_t size, std::string& text, TDecodeInfo& info) {
  return DecodeTerminated(data, size, "", 1, text, info, "reply text too long");
}

TDecodeStatus DecodeLine(const uint8_t* data, size_t size, std::string& text, TDecodeInfo& info) {
  return DecodeTerminated(data, size, "\r\n", 2, text, info, "reply line too long");
}

bool StateHasBackupTimes(int32_t state) {
  return state == 0 || state == 5 || state == 6 || state == 7 || state == 8;
}

}  // namespace om
