#include "tray/client_comms.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "framework/stringlist.h"
#include "framework/strutils.h"
#include "tray/tray_platform.h"

namespace om {

int DefaultServicePort(const std::string& programFileName) {
  return LowerCaseAscii(ExtractFileName(programFileName)) == "omtray.exe" ? 10100 : 10000;
}

namespace {

// Whole text as a 32-bit signed decimal number (leading blanks allowed).
bool ParseInt32(const std::string& s, int& out) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  if (i == s.size()) return false;
  bool neg = false;
  if (s[i] == '+' || s[i] == '-') neg = s[i++] == '-';
  if (i == s.size()) return false;
  long long v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
    if (v > 2147483648LL) return false;
  }
  if (neg) v = -v;
  if (v > INT_MAX || v < INT_MIN) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

int ReadAgentServicePort(const std::string& folder, const std::string& fileName,
                         const std::string& programFileName) {
  int port = DefaultServicePort(programFileName);
  try {
    std::string path = folder + kPathDelim + fileName;
    if (!FileExists(path)) return port;
    TStringList lines;
    lines.LoadFromFile(path);
    TStringList decoded;
    for (const std::string& l : lines.Items()) decoded.Add(Utf8ToAnsi(l));
    std::string value = decoded.Values("service.port");
    int parsed;
    if (!value.empty() && ParseInt32(value, parsed)) port = parsed;
  } catch (const std::exception&) {
    // An unreadable file leaves the default.
  }
  return port;
}

uint8_t AgentHandshake(TAgentClient& client) {
  client.ReadPrompt();
  client.Write(kMonitorLine);
  return client.ReadByte();
}

TClientComms::TClientComms(const std::string& folder, const std::string& fileName)
    : TClientComms(folder, fileName, NewAgentSocket()) {}

TClientComms::TClientComms(const std::string& folder, const std::string& fileName,
                           std::unique_ptr<TAgentSocket> socket)
    : FFolder(folder), FFileName(fileName), FClient(std::move(socket)) {
  FPort = ReadServicePort();
}

int TClientComms::ReadServicePort() { return ReadAgentServicePort(FFolder, FFileName, ProgramFileName()); }

bool TClientComms::OpenExchange() {
  try {
    FPort = ReadServicePort();
    FClient.Connect(kAgentHost, FPort);
    // A refused acknowledgement leaves the connection as it is.
    return AgentHandshake(FClient) == kAgentAccepted;
  } catch (const EAgentAlreadyConnected&) {
    return true;  // an exchange left open by an earlier request is reused
  } catch (const std::exception&) {
    CloseQuietly();
    return false;
  }
}

void TClientComms::EndExchange() {
  FClient.Write(EncodeRequest(cmdEndExchange));
  FClient.Disconnect();
}

void TClientComms::CloseQuietly() {
  try {
    FClient.Disconnect();
  } catch (const std::exception&) {
  }
}

bool TClientComms::SendCommand(uint8_t code) {
  if (!OpenExchange()) return false;
  FClient.Write(EncodeRequest(code));
  EndExchange();
  return true;
}

uint8_t TClientComms::SendQuery(uint8_t code) {
  if (!OpenExchange()) return 0;
  FClient.Write(EncodeRequest(code));
  uint8_t reply = FClient.ReadByte();
  EndExchange();
  return reply;
}

std::string TClientComms::GetClientVersion() {
  if (!OpenExchange()) return std::string();
  FClient.Write(EncodeGetClientVersion());
  std::string line = Utf8ToAnsi(FClient.ReadLine());
  EndExchange();
  return line;
}

void TClientComms::SetSetting(const std::string& name, const std::string& value) {
  try {
    if (!OpenExchange()) return;
    try {
      FClient.Write(EncodeSetSetting(AnsiToUtf8(name + "=" + value)));
      FClient.Write(EncodeRequest(cmdEndExchange));
    } catch (const std::exception&) {
    }
    CloseQuietly();
  } catch (const std::exception&) {
  }
}

void TClientComms::SetBooleanSetting(const std::string& name, bool value) {
  SetSetting(name, value ? "true" : "false");
}

template <class F>
void TClientComms::ReadSetting(const std::string& name, bool keepOpen, F&& apply) {
  try {
    if (!FClient.Connected() && !OpenExchange()) return;
    try {
      FClient.Write(EncodeGetSetting(name));
      apply(Utf8ToAnsi(FClient.ReadZeroText()));
    } catch (const std::exception&) {
      // A failed read leaves the exchange out of step: never reuse it.
      CloseQuietly();
      return;
    }
    if (!keepOpen) {
      try {
        FClient.Write(EncodeRequest(cmdEndExchange));
      } catch (const std::exception&) {
      }
      CloseQuietly();
    }
  } catch (const std::exception&) {
  }
}

std::string TClientComms::GetSetting(const std::string& name, const std::string& defaultValue, bool keepOpen) {
  std::string result = defaultValue;
  ReadSetting(name, keepOpen, [&](const std::string& text) { result = text; });
  return result;
}

bool TClientComms::GetBooleanSetting(const std::string& name, bool defaultValue, bool keepOpen) {
  bool result = defaultValue;
  ReadSetting(name, keepOpen, [&](const std::string& text) {
    if (!text.empty()) result = SameText(text, "true");
  });
  return result;
}

}  // namespace om
