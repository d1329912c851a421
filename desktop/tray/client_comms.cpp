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

namespace {

void CloseQuietly(TAgentClient& client) {
  try {
    client.Disconnect();
  } catch (const std::exception&) {
  }
}

void EndExchange(TAgentClient& client) {
  client.Write(EncodeRequest(cmdEndExchange));
  client.Disconnect();
}

}  // namespace

// The client one request uses: the object's own, or, for a request made while
// another one waits, a new one that goes with the request.
class TClientComms::TRequest {
public:
  explicit TRequest(TClientComms& comms) : FComms(comms) {
    if (comms.FDepth > 0) {
      FOwn = std::make_unique<TAgentClient>(comms.FNewSocket());
      FOwn->OnWait = comms.FOnWait;
    }
    ++comms.FDepth;
  }
  ~TRequest() { --FComms.FDepth; }
  TAgentClient& Client() { return FOwn ? *FOwn : FComms.FClient; }

private:
  TClientComms& FComms;
  std::unique_ptr<TAgentClient> FOwn;
};

TClientComms::TClientComms(const std::string& folder, const std::string& fileName)
    : TClientComms(folder, fileName, [] { return NewAgentSocket(); }) {}

TClientComms::TClientComms(const std::string& folder, const std::string& fileName, TSocketFactory newSocket)
    : FFolder(folder), FFileName(fileName), FNewSocket(std::move(newSocket)), FClient(FNewSocket()) {
  FPort = ReadServicePort();
}

void TClientComms::SetOnWait(std::function<void()> onWait) {
  FOnWait = std::move(onWait);
  FClient.OnWait = FOnWait;
}

int TClientComms::ReadServicePort() { return ReadAgentServicePort(FFolder, FFileName, ProgramFileName()); }

bool TClientComms::OpenExchange() {
  TRequest r(*this);
  return OpenExchange(r.Client());
}

bool TClientComms::OpenExchange(TAgentClient& client) {
  try {
    FPort = ReadServicePort();
    client.Connect(kAgentHost, FPort);
    // A refused acknowledgement leaves the connection as it is.
    return AgentHandshake(client) == kAgentAccepted;
  } catch (const EAgentAlreadyConnected&) {
    return true;  // an exchange left open by an earlier request is reused
  } catch (const std::exception&) {
    CloseQuietly(client);
    return false;
  }
}

template <class F>
auto TClientComms::Request(F&& f) {
  TRequest r(*this);
  TAgentClient& client = r.Client();
  if (!OpenExchange(client)) return decltype(f(client))();
  try {
    auto result = f(client);
    EndExchange(client);
    return result;
  } catch (...) {
    CloseQuietly(client);
    throw;
  }
}

bool TClientComms::SendCommand(uint8_t code) {
  return Request([&](TAgentClient& client) {
    client.Write(EncodeRequest(code));
    return true;
  });
}

uint8_t TClientComms::SendQuery(uint8_t code) {
  return Request([&](TAgentClient& client) {
    client.Write(EncodeRequest(code));
    return client.ReadByte();
  });
}

std::string TClientComms::GetClientVersion() {
  return Request([&](TAgentClient& client) {
    client.Write(EncodeGetClientVersion());
    return Utf8ToAnsi(client.ReadLine());
  });
}

void TClientComms::SetSetting(const std::string& name, const std::string& value) {
  try {
    TRequest r(*this);
    TAgentClient& client = r.Client();
    if (!OpenExchange(client)) return;
    try {
      client.Write(EncodeSetSetting(AnsiToUtf8(name + "=" + value)));
      client.Write(EncodeRequest(cmdEndExchange));
    } catch (const std::exception&) {
    }
    CloseQuietly(client);
  } catch (const std::exception&) {
  }
}

void TClientComms::SetBooleanSetting(const std::string& name, bool value) {
  SetSetting(name, value ? "true" : "false");
}

template <class F>
void TClientComms::ReadSetting(const std::string& name, bool keepOpen, F&& apply) {
  try {
    TRequest r(*this);
    TAgentClient& client = r.Client();
    if (!client.Connected() && !OpenExchange(client)) return;
    try {
      client.Write(EncodeGetSetting(name));
      apply(Utf8ToAnsi(client.ReadZeroText()));
    } catch (const std::exception&) {
      // A failed read leaves the exchange out of step: never reuse it.
      CloseQuietly(client);
      return;
    }
    if (!keepOpen) {
      try {
        client.Write(EncodeRequest(cmdEndExchange));
      } catch (const std::exception&) {
      }
      CloseQuietly(client);
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
