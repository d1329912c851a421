// Winsock socket of the agent client: blocking connect, send, and receive with
// a time-out per read (select).
#include "tray/sockets_win32.h"

#include <mutex>

#include "framework/strutils.h"
#include "tray/agent_connection.h"

namespace om {

namespace {

std::string SocketErrorText(const char* what, int code) {
  char text[512] = {0};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) text[--n] = 0;
  return Format("%s: socket error %d%s%s", what, code, n ? ": " : "", text);
}

void StartWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  });
}

class TWinsockAgentSocket : public TAgentSocket {
public:
  TWinsockAgentSocket() { StartWinsock(); }
  ~TWinsockAgentSocket() override { Close(); }

  void Open(const std::string& host, int port) override {
    Close();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    if (port <= 0 || port > 65535 || inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1)
      throw EAgentConnectionError(Format("Invalid address %s:%d", host.c_str(), port));
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) throw EAgentConnectionError(SocketErrorText("socket", WSAGetLastError()));
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      int code = WSAGetLastError();
      closesocket(s);
      throw EAgentConnectionError(SocketErrorText("connect", code));
    }
    BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    FSocket = s;
    FPeerClosed = false;
  }

  bool IsOpen() override {
    if (FSocket == INVALID_SOCKET || FPeerClosed) return false;
    // A readable socket with nothing to peek at was closed by the peer.
    fd_set set;
    FD_ZERO(&set);
    FD_SET(FSocket, &set);
    timeval tv{0, 0};
    if (select(0, &set, nullptr, nullptr, &tv) == 1) {
      char c;
      int n = recv(FSocket, &c, 1, MSG_PEEK);
      if (n == 0 || n == SOCKET_ERROR) FPeerClosed = true;
    }
    return !FPeerClosed;
  }

  void Close() override {
    if (FSocket != INVALID_SOCKET) closesocket(FSocket);
    FSocket = INVALID_SOCKET;
    FPeerClosed = false;
  }

  void Send(const std::string& bytes) override {
    if (FSocket == INVALID_SOCKET) throw EAgentConnectionError("Not connected.");
    size_t done = 0;
    while (done < bytes.size()) {
      int n = send(FSocket, bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
      if (n == SOCKET_ERROR) throw EAgentConnectionError(SocketErrorText("send", WSAGetLastError()));
      done += static_cast<size_t>(n);
    }
  }

  size_t Receive(uint8_t* buffer, size_t max, int timeoutMs) override {
    if (FSocket == INVALID_SOCKET) throw EAgentConnectionError("Not connected.");
    if (FPeerClosed) throw EAgentClosed("Connection closed gracefully.");
    fd_set set;
    FD_ZERO(&set);
    FD_SET(FSocket, &set);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int r = select(0, &set, nullptr, nullptr, &tv);
    if (r == SOCKET_ERROR) throw EAgentConnectionError(SocketErrorText("select", WSAGetLastError()));
    if (r == 0) throw EAgentReadTimeout("Read timed out.");
    int n = recv(FSocket, reinterpret_cast<char*>(buffer), static_cast<int>(max), 0);
    if (n == 0) {
      FPeerClosed = true;
      throw EAgentClosed("Connection closed gracefully.");
    }
    if (n == SOCKET_ERROR) {
      FPeerClosed = true;
      throw EAgentClosed(SocketErrorText("recv", WSAGetLastError()));
    }
    return static_cast<size_t>(n);
  }

private:
  SOCKET FSocket = INVALID_SOCKET;
  bool FPeerClosed = false;
};

}  // namespace

std::unique_ptr<TAgentSocket> NewAgentSocket() { return std::make_unique<TWinsockAgentSocket>(); }

}  // namespace om
