// BSD socket of the agent client for the native build (the tests' twin of the
// Winsock one).
#include <arpa/inet.h>
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
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) throw EAgentConnectionError(Format("socket: %s", std::strerror(errno)));
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      int e = errno;
      ::close(s);
      throw EAgentConnectionError(Format("connect: %s", std::strerror(e)));
    }
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    FSocket = s;
    FPeerClosed = false;
  }

  bool IsOpen() override {
    if (FSocket < 0 || FPeerClosed) return false;
    pollfd p{FSocket, POLLIN, 0};
    if (poll(&p, 1, 0) == 1) {
      char c;
      ssize_t n = recv(FSocket, &c, 1, MSG_PEEK | MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) FPeerClosed = true;
    }
    return !FPeerClosed;
  }

  void Close() override {
    if (FSocket >= 0) ::close(FSocket);
    FSocket = -1;
    FPeerClosed = false;
  }

  void Send(const std::string& bytes) override {
    if (FSocket < 0) throw EAgentConnectionError("Not connected.");
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::send(FSocket, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw EAgentConnectionError(Format("send: %s", std::strerror(errno)));
      done += static_cast<size_t>(n);
    }
  }

  size_t Receive(uint8_t* buffer, size_t max, int timeoutMs) override {
    if (FSocket < 0) throw EAgentConnectionError("Not connected.");
    if (FPeerClosed) throw EAgentClosed("Connection closed gracefully.");
    pollfd p{FSocket, POLLIN, 0};
    int r;
    do r = poll(&p, 1, timeoutMs); while (r < 0 && errno == EINTR);
    if (r < 0) throw EAgentConnectionError(Format("poll: %s", std::strerror(errno)));
    if (r == 0) throw EAgentReadTimeout("Read timed out.");
    ssize_t n;
    do n = recv(FSocket, buffer, max, 0); while (n < 0 && errno == EINTR);
    if (n <= 0) {
      FPeerClosed = true;
      throw EAgentClosed(n == 0 ? std::string("Connection closed gracefully.")
                                : Format("recv: %s", std::strerror(errno)));
    }
    return static_cast<size_t>(n);
  }

private:
  int FSocket = -1;
  bool FPeerClosed = false;
};

}  // namespace

std::unique_ptr<TAgentSocket> NewAgentSocket() { return std::make_unique<TPosixAgentSocket>(); }

}  // namespace om
