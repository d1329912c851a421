// Winsock socket of the agent client: a non-blocking socket whose connect,
// send and receive each wait (select) at most the time they are given.
#include "tray/sockets_win32.h"

#include <mutex>

#include "framework/strutils.h"
#include "platform/win32_owners.h"
#include "tray/agent_connection.h"

namespace om {

namespace {

std::string SocketErrorText(const char* what, int code) {
  const std::string text = systemMessage(static_cast<DWORD>(code));
  return Format("%s: socket error %d%s%s", what, code, text.empty() ? "" : ": ", text.c_str());
}

void StartWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  });
}

timeval Interval(int timeoutMs) { return timeval{timeoutMs / 1000, (timeoutMs % 1000) * 1000}; }

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
    u_long nonBlocking = 1;
    BOOL noDelay = TRUE;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
        (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && WSAGetLastError() != WSAEWOULDBLOCK)) {
      int code = WSAGetLastError();
      closesocket(s);
      throw EAgentConnectionError(SocketErrorText("connect", code));
    }
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    FSocket = s;
    FConnected = false;
    FPeerClosed = false;
  }

  bool WaitConnected(int timeoutMs) override {
    if (FSocket == INVALID_SOCKET) throw EAgentConnectionError("Not connected.");
    if (FConnected) return true;
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(FSocket, &writable);
    FD_SET(FSocket, &failed);
    timeval tv = Interval(timeoutMs);
    int r = select(0, nullptr, &writable, &failed, &tv);
    if (r == SOCKET_ERROR) throw EAgentConnectionError(SocketErrorText("select", WSAGetLastError()));
    if (r == 0) return false;
    if (FD_ISSET(FSocket, &failed)) {
      int code = 0;
      int size = sizeof code;
      getsockopt(FSocket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &size);
      throw EAgentConnectionError(SocketErrorText("connect", code ? code : WSAECONNREFUSED));
    }
    FConnected = true;
    return true;
  }

  bool IsOpen() override {
    if (FSocket == INVALID_SOCKET || !FConnected || FPeerClosed) return false;
    // A readable socket with nothing to peek at was closed by the peer.
    fd_set set;
    FD_ZERO(&set);
    FD_SET(FSocket, &set);
    timeval tv{0, 0};
    if (select(0, &set, nullptr, nullptr, &tv) == 1) {
      char c;
      int n = recv(FSocket, &c, 1, MSG_PEEK);
      if (n == 0 || (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK)) FPeerClosed = true;
    }
    return !FPeerClosed;
  }

  void Close() override {
    if (FSocket != INVALID_SOCKET) closesocket(FSocket);
    FSocket = INVALID_SOCKET;
    FConnected = false;
    FPeerClosed = false;
  }

  size_t Send(const char* data, size_t size, int timeoutMs) override {
    if (FSocket == INVALID_SOCKET || !FConnected) throw EAgentConnectionError("Not connected.");
    fd_set set;
    FD_ZERO(&set);
    FD_SET(FSocket, &set);
    timeval tv = Interval(timeoutMs);
    int r = select(0, nullptr, &set, nullptr, &tv);
    if (r == SOCKET_ERROR) throw EAgentConnectionError(SocketErrorText("select", WSAGetLastError()));
    if (r == 0) return 0;
    int n = send(FSocket, data, static_cast<int>(size), 0);
    if (n == SOCKET_ERROR) {
      int code = WSAGetLastError();
      if (code == WSAEWOULDBLOCK) return 0;
      throw EAgentConnectionError(SocketErrorText("send", code));
    }
    return static_cast<size_t>(n);
  }

  size_t Receive(uint8_t* buffer, size_t max, int timeoutMs) override {
    if (FSocket == INVALID_SOCKET || !FConnected) throw EAgentConnectionError("Not connected.");
    if (FPeerClosed) throw EAgentClosed("Connection closed gracefully.");
    fd_set set;
    FD_ZERO(&set);
    FD_SET(FSocket, &set);
    timeval tv = Interval(timeoutMs);
    int r = select(0, &set, nullptr, nullptr, &tv);
    if (r == SOCKET_ERROR) throw EAgentConnectionError(SocketErrorText("select", WSAGetLastError()));
    if (r == 0) throw EAgentReadTimeout("Read timed out.");
    int n = recv(FSocket, reinterpret_cast<char*>(buffer), static_cast<int>(max), 0);
    if (n == 0) {
      FPeerClosed = true;
      throw EAgentClosed("Connection closed gracefully.");
    }
    if (n == SOCKET_ERROR) {
      int code = WSAGetLastError();
      if (code == WSAEWOULDBLOCK) throw EAgentReadTimeout("Read timed out.");
      FPeerClosed = true;
      throw EAgentClosed(SocketErrorText("recv", code));
    }
    return static_cast<size_t>(n);
  }

private:
  SOCKET FSocket = INVALID_SOCKET;
  bool FConnected = false;
  bool FPeerClosed = false;
};

}  // namespace

std::unique_ptr<TAgentSocket> NewAgentSocket() { return std::make_unique<TWinsockAgentSocket>(); }

}  // namespace om
