// Wire format of the agent's service port: the monitor handshake, one-byte
// request codes, big-endian integers and zero- or CR LF-terminated texts.
// Pure byte coding, no sockets: the connection classes feed received bytes to
// the decoders below until a reply is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace om {

// Request codes (one byte on the wire).
constexpr uint8_t cmdBackupNow = 1;
constexpr uint8_t cmdCancelBackup = 4;
constexpr uint8_t cmdGetState = 7;
constexpr uint8_t cmdMenuPermission = 17;
constexpr uint8_t cmdGetNextBackup = 20;
constexpr uint8_t cmdGetLastBackup = 24;
constexpr uint8_t cmdGetNotification = 25;
constexpr uint8_t cmdGetClientVersion = 34;
constexpr uint8_t cmdGetSetting = 66;
constexpr uint8_t cmdSetSetting = 67;
constexpr uint8_t cmdEndExchange = 99;

constexpr char kAgentHost[] = "127.0.0.1";
constexpr char kAgentPrompt = '>';
constexpr char kMonitorLine[] = "MONITOR\r\n";
constexpr uint8_t kAgentAccepted = 1;
constexpr int kAgentReadTimeoutMs = 5000;
constexpr char kNoBackupId[] = "00000000-0000-0000-0000-000000000000";

// Longest text accepted in a reply (setting value, version line, identifier,
// notification text) and longest greeting before the prompt. A reply that
// announces or sends more is refused rather than buffered.
constexpr size_t kMaxReplyText = 64 * 1024;

uint32_t SwapBytes32(uint32_t value);
uint64_t SwapBytes64(uint64_t value);

// --- Requests --------------------------------------------------------------

// A code without payload (1, 4, 7, 17, 20, 24, 25, 99).
std::string EncodeRequest(uint8_t code);
// 66, the setting name's bytes as held, zero byte.
std::string EncodeGetSetting(const std::string& name);
// 67, the UTF-8 bytes of name "=" value, zero byte.
std::string EncodeSetSetting(const std::string& utf8Assignment);
// 34, zero byte.
std::string EncodeGetClientVersion();

// --- Replies ---------------------------------------------------------------

enum class TDecodeStatus {
  Complete,   // a whole reply; `consumed` bytes belong to it
  NeedMore,   // the bytes so far are a valid beginning; read more
  Malformed,  // no reply of this layout can begin with these bytes
};

struct TNextBackupReply {
  int64_t Millis = 0;  // milliseconds since 1970-01-01 (UTC)
  bool HasId = false;  // an identifier follows only when Millis > 0
  std::string Id;      // raw bytes
};

struct TNotificationReply {
  int64_t Stamp = 0;
  int32_t Kind = 0;
  std::string Text;  // raw bytes
};

// Every decoder looks at the bytes received so far (data, size). On Complete
// it fills the reply and sets Consumed; otherwise Consumed is left alone.
// Error names what was wrong on Malformed. Resume is where the search for a
// terminator goes on: a reader that keeps the info between receives has each
// byte searched once, not the whole reply again after every receive.
struct TDecodeInfo {
  size_t Consumed = 0;
  std::string Error;
  size_t Resume = 0;
};

// The greeting up to and including the first '>'.
TDecodeStatus DecodePrompt(const uint8_t* data, size_t size, TDecodeInfo& info);
// One byte (acknowledgement, yes/no reply).
TDecodeStatus DecodeByte(const uint8_t* data, size_t size, uint8_t& value, TDecodeInfo& info);
// 4-byte state value.
TDecodeStatus DecodeState(const uint8_t* data, size_t size, int32_t& state, TDecodeInfo& info);
// 8-byte time, then (time > 0) an identifier ending with a zero byte.
TDecodeStatus DecodeNextBackup(const uint8_t* data, size_t size, TNextBackupReply& reply, TDecodeInfo& info);
// 8-byte time.
TDecodeStatus DecodeLastBackup(const uint8_t* data, size_t size, int64_t& millis, TDecodeInfo& info);
// 8-byte stamp, 4-byte kind, 4-byte count n (0..kMaxReplyText), n bytes of text.
TDecodeStatus DecodeNotification(const uint8_t* data, size_t size, TNotificationReply& reply, TDecodeInfo& info);
// Text ending with a zero byte (the zero byte is consumed, not returned).
TDecodeStatus DecodeZeroText(const uint8_t* data, size_t size, std::string& text, TDecodeInfo& info);
// Text ending with CR LF (consumed, not returned).
TDecodeStatus DecodeLine(const uint8_t* data, size_t size, std::string& text, TDecodeInfo& info);

// States of the agent that come with next and last backup times.
bool StateHasBackupTimes(int32_t state);

}  // namespace om
