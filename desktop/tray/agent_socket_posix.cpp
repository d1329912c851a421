// BSD socket of the agent client for the native build (the tests' twin of the
// Winsock one): non-blocking, every call waits (poll) at most its time.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "framework/strutils.h"
#include "tray/agent_connection.h"

namespace om {

namespace {

// poll on one descriptor, restarted after a signal; the events seen (0: none in time).
short WaitFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  int r;
  do r = poll(&p, 1, timeoutMs); while (r < 0 && errno == EINTR);
  if (r < 0) throw EAgentConnectionError(Format("poll: %s", std::strerror(errno)));
  return r == 0 ? 0 : p.revents;
}

class TPosixAgentSocket : public TAgentSocket {
public:
  ~TPosixAgentSocket() override { Close(); }

  void Open(const std::string& host, int port) override {
    Close();
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (port <= 0 || port > 65535 || inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1)
      throw EAgentConnectionError(Format("Invalid address %s:%d", host.c_str(), port));
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) throw EAgentConnectionError(Format("socket: %s", std::strerror(errno)));
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && errno != EINPROGRESS) {
      int e = errno;
      ::close(s);
      throw EAgentConnectionError(Format("connect: %s", std::strerror(e)));
    }
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    FSocket = s;
    FConnected = false;
    FPeerClosed = false;
  }

  bool WaitConnected(int timeoutMs) override {
    if (FSocket < 0) throw EAgentConnectionError("Not connected.");
    if (FConnected) return true;
    if (WaitFor(FSocket, POLLOUT, timeoutMs) == 0) return false;
    int e = 0;
    socklen_t size = sizeof e;
    getsockopt(FSocket, SOL_SOCKET, SO_ERROR, &e, &size);
    if (e != 0) throw EAgentConnectionError(Format("connect: %s", std::strerror(e)));
    FConnected = true;
    return true;
  }

  bool IsOpen() override {
    if (FSocket < 0 || !FConnected || FPeerClosed) return false;
    if (WaitFor(FSocket, POLLIN, 0) != 0) {
      char c;
      ssize_t n = recv(FSocket, &c, 1, MSG_PEEK | MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) FPeerClosed = true;
    }
    return !FPeerClosed;
  }

  void Close() override {
    if (FSocket >= 0) ::close(FSocket);
    FSocket = -1;
    FConnected = false;
    FPeerClosed = false;
  }

  size_t Send(const char* data, size_t size, int timeoutMs) override {
    if (FSocket < 0 || !FConnected) throw EAgentConnectionError("Not connected.");
    if (WaitFor(FSocket, POLLOUT, timeoutMs) == 0) return 0;
    ssize_t n;
    do n = ::send(FSocket, data, size, MSG_NOSIGNAL); while (n < 0 && errno == EINTR);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
      throw EAgentConnectionError(Format("send: %s", std::strerror(errno)));
    }
    return static_cast<size_t>(n);
  }

  size_t Receive(uint8_t* buffer, size_t max, int timeoutMs) override {
    if (FSocket < 0 || !FConnected) throw EAgentConnectionError("Not connected.");
    if (FPeerClosed) throw EAgentClosed("Connection closed gracefully.");
    if (WaitFor(FSocket, POLLIN, timeoutMs) == 0) throw EAgentReadTimeout("Read timed out.");
    ssize_t n;
    do n = recv(FSocket, buffer, max, 0); while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) throw EAgentReadTimeout("Read timed out.");
    if (n <= 0) {
      FPeerClosed = true;
      throw EAgentClosed(n == 0 ? std::string("Connection closed gracefully.")
                                : Format("recv: %s", std::strerror(errno)));
    }
    return static_cast<size_t>(n);
  }

private:
  int FSocket = -1;
  bool FConnected = false;
  bool FPeerClosed = false;
};

}  // namespace

std::unique_ptr<TAgentSocket> NewAgentSocket() { return std::make_unique<TPosixAgentSocket>(); }

}  // namespace om
