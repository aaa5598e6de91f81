#include "emulator/uhid/uhid_channel.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "emulator/uhid/relay_frame.h"
#include "emulator/uhid/uhid_event.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace mvx::emu {

namespace {

#ifdef _WIN32
using SocketHandle = SOCKET;
const SocketHandle kNoSocket = INVALID_SOCKET;
void CloseSocket(SocketHandle s) {
  ::closesocket(s);
}
int WaitReadable(SocketHandle s, int timeout_ms) {
  WSAPOLLFD p{s, POLLRDNORM, 0};
  return ::WSAPoll(&p, 1, timeout_ms);
}
std::string LastSocketError() {
  return "socket error " + std::to_string(::WSAGetLastError());
}
bool StartSockets() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}
#else
using SocketHandle = int;
const SocketHandle kNoSocket = -1;
void CloseSocket(SocketHandle s) {
  ::close(s);
}
int WaitReadable(SocketHandle s, int timeout_ms) {
  pollfd p{s, POLLIN, 0};
  const int ready = ::poll(&p, 1, timeout_ms);
  return ready < 0 && errno == EINTR ? 0 : ready;
}
std::string LastSocketError() {
  return std::strerror(errno);
}
bool StartSockets() {
  return true;
}

// The kernel's node, or a stand-in for it: every read and write one event.
class DescriptorChannel : public UhidChannel {
 public:
  explicit DescriptorChannel(int fd) : fd_(fd) {}
  ~DescriptorChannel() override { ::close(fd_); }
  DescriptorChannel(const DescriptorChannel&) = delete;
  DescriptorChannel& operator=(const DescriptorChannel&) = delete;

  bool Write(const void* event, std::size_t length) override {
    for (;;) {
      const ssize_t put = ::write(fd_, event, length);
      if (put == static_cast<ssize_t>(length)) return true;
      if (put < 0 && errno == EINTR) continue;
      return false;
    }
  }
  long Read(void* event, std::size_t capacity, int timeout_ms) override {
    pollfd pfd{fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, timeout_ms);
    if (ready < 0) return errno == EINTR ? 0 : -1;
    if (ready == 0) return 0;
    if (pfd.revents & (POLLERR | POLLNVAL)) return -1;
    const ssize_t got = ::read(fd_, event, capacity);
    if (got < 0) return errno == EINTR || errno == EAGAIN ? 0 : -1;
    return got == 0 ? -1 : static_cast<long>(got);
  }

 private:
  int fd_;
};
#endif

// Events framed over a TCP connection to the relay.
class RelayChannel : public UhidChannel {
 public:
  explicit RelayChannel(SocketHandle s) : socket_(s) {}
  ~RelayChannel() override { CloseSocket(socket_); }
  RelayChannel(const RelayChannel&) = delete;
  RelayChannel& operator=(const RelayChannel&) = delete;

  bool Write(const void* event, std::size_t length) override {
    if (length == 0 || length > sizeof(uhid::Event)) return false;
    std::uint8_t buffer[kRelayHeaderSize + sizeof(uhid::Event)];
    PutRelayHeader(buffer, static_cast<std::uint32_t>(length));
    std::memcpy(buffer + kRelayHeaderSize, event, length);
    const char* at = reinterpret_cast<const char*>(buffer);
    std::size_t left = kRelayHeaderSize + length;
    while (left > 0) {
      const auto put = ::send(socket_, at, static_cast<int>(left), 0);
      if (put <= 0) return false;
      at += put;
      left -= static_cast<std::size_t>(put);
    }
    return true;
  }

  long Read(void* event, std::size_t capacity, int timeout_ms) override {
    for (;;) {
      if (reader_.Next(frame_)) {
        std::memcpy(event, frame_.data(), std::min(capacity, frame_.size()));
        return static_cast<long>(std::min(capacity, frame_.size()));
      }
      if (reader_.Broken()) return -1;
      const int ready = WaitReadable(socket_, timeout_ms);
      if (ready < 0) return -1;
      if (ready == 0) return 0;
      char buffer[8192];
      const auto got = ::recv(socket_, buffer, sizeof buffer, 0);
      if (got <= 0) return -1;
      if (!reader_.Feed(reinterpret_cast<const std::uint8_t*>(buffer),
                        static_cast<std::size_t>(got)))
        return -1;
    }
  }

 private:
  SocketHandle socket_;
  RelayFrameReader reader_{sizeof(uhid::Event)};
  std::vector<std::uint8_t> frame_;
};

}  // namespace

std::unique_ptr<UhidChannel> OpenUhidNode(const std::string& node, std::string* error) {
#ifdef _WIN32
  if (error) *error = "no " + node + " on Windows (use the relay)";
  return nullptr;
#else
  const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = "cannot open " + node + ": " + std::strerror(errno);
    return nullptr;
  }
  return UhidChannelOnDescriptor(fd);
#endif
}

#ifndef _WIN32
std::unique_ptr<UhidChannel> UhidChannelOnDescriptor(int fd) {
  return std::make_unique<DescriptorChannel>(fd);
}
#endif

std::unique_ptr<UhidChannel> ConnectUhidRelay(const std::string& address, std::string* error) {
  auto fail = [&](const std::string& why) -> std::unique_ptr<UhidChannel> {
    if (error) *error = "cannot reach the uhid relay at " + address + ": " + why;
    return nullptr;
  };
  const std::size_t colon = address.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == address.size())
    return fail("not HOST:PORT");
  if (!StartSockets()) return fail("the sockets cannot be started");
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string host = address.substr(0, colon);
  const std::string port = address.substr(colon + 1);
  if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || !found)
    return fail("unknown address");
  SocketHandle s = ::socket(found->ai_family, found->ai_socktype, found->ai_protocol);
  if (s == kNoSocket) {
    ::freeaddrinfo(found);
    return fail(LastSocketError());
  }
  const bool connected = ::connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0;
  ::freeaddrinfo(found);
  if (!connected) {
    const std::string why = LastSocketError();
    CloseSocket(s);
    return fail(why);
  }
  // Each event is a request or an answer that someone waits for.
  int on = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  return std::make_unique<RelayChannel>(s);
}

}  // namespace mvx::emu
