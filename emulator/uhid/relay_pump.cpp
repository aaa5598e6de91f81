#include "emulator/uhid/relay_pump.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "emulator/uhid/relay_frame.h"
#include "emulator/uhid/uhid_event.h"

namespace mvx::emu {

namespace {

bool SendAll(int fd, const std::uint8_t* data, std::size_t length) {
  while (length > 0) {
    const ssize_t put = ::send(fd, data, length, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    length -= static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

RelayCounts PumpRelay(int connection, int node, const std::atomic<bool>& stop) {
  RelayCounts counts;
  RelayFrameReader reader(sizeof(uhid::Event));
  std::vector<std::uint8_t> frame;
  // One event from the node, behind room for its header.
  auto buffer = std::make_unique<std::uint8_t[]>(kRelayHeaderSize + sizeof(uhid::Event));
  std::uint8_t received[8192];
  while (!stop) {
    pollfd fds[2] = {{connection, POLLIN, 0}, {node, POLLIN, 0}};
    const int ready = ::poll(fds, 2, 100);
    if (ready < 0 && errno != EINTR) {
      counts.End = std::string("poll: ") + std::strerror(errno);
      break;
    }
    if (ready <= 0) continue;
    if (fds[1].revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) {
      const ssize_t got = ::read(node, buffer.get() + kRelayHeaderSize, sizeof(uhid::Event));
      if (got <= 0 && !(got < 0 && (errno == EINTR || errno == EAGAIN))) {
        counts.End = "the node closed";
        break;
      }
      if (got > 0) {
        PutRelayHeader(buffer.get(), static_cast<std::uint32_t>(got));
        if (!SendAll(connection, buffer.get(), kRelayHeaderSize + static_cast<std::size_t>(got))) {
          counts.End = "the connection closed";
          break;
        }
        ++counts.FromKernel;
      }
    }
    if (fds[0].revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) {
      const ssize_t got = ::recv(connection, received, sizeof received, 0);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        counts.End = "the connection closed";
        break;
      }
      if (!reader.Feed(received, static_cast<std::size_t>(got))) {
        counts.End = "the connection sent a frame longer than an event";
        break;
      }
      bool written = true;
      while (written && reader.Next(frame)) {
        written = ::write(node, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
        if (written) ++counts.ToKernel;
      }
      if (!written) {
        counts.End = std::string("the node refused an event: ") + std::strerror(errno);
        break;
      }
    }
  }
  if (counts.End.empty()) counts.End = "stopped";
  return counts;
}

}  // namespace mvx::emu
