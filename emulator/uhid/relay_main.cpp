// mvx-uhid-relay [--port N] [--node PATH]: lets a program that cannot open
// /dev/uhid (a Windows program under wine) make kernel HID devices on this
// machine. It listens on 127.0.0.1:N (default: a free port), prints
// "mvx-uhid-relay: listening on 127.0.0.1:PORT" once it does, and gives every
// connection a uhid node of its own (default /dev/uhid): the frames the
// connection sends go to the node as events, the node's events come back as
// frames. When a connection ends its node is closed, which takes its device
// off the bus. Runs until SIGINT or SIGTERM; prints one line per connection.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/uhid/relay_pump.h"

namespace {

std::atomic<bool> g_stop{false};

void OnStopSignal(int) {
  g_stop = true;
}

int Fail(const std::string& what) {
  std::fprintf(stderr, "mvx-uhid-relay: %s: %s\n", what.c_str(), std::strerror(errno));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long port = 0;
  std::string node = "/dev/uhid";
  for (int i = 1; i < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    char* end = nullptr;
    if (name == "--port" && value && (port = std::strtoul(value, &end, 10), *end == '\0') &&
        port < 65536) {
      continue;
    }
    if (name == "--node" && value) {
      node = value;
      continue;
    }
    std::fprintf(stderr, "usage: mvx-uhid-relay [--port N] [--node PATH]\n");
    return 2;
  }

  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return Fail("socket");
  int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return Fail("bind to 127.0.0.1:" + std::to_string(port));
  if (::listen(listener, 8) != 0) return Fail("listen");
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::printf("mvx-uhid-relay: listening on 127.0.0.1:%u\n", ntohs(address.sin_port));
  std::fflush(stdout);

  std::mutex out_mutex;
  std::vector<std::thread> pumps;
  int connections = 0;
  while (!g_stop) {
    pollfd pfd{listener, POLLIN, 0};
    if (::poll(&pfd, 1, 200) <= 0) continue;
    const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const int number = ++connections;
    const int uhid = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (uhid < 0) {
      std::lock_guard<std::mutex> lock(out_mutex);
      std::printf("mvx-uhid-relay: connection %d refused: cannot open %s: %s\n", number,
                  node.c_str(), std::strerror(errno));
      std::fflush(stdout);
      ::close(connection);
      continue;
    }
    pumps.emplace_back([connection, uhid, number, &out_mutex] {
      const mvx::emu::RelayCounts counts = mvx::emu::PumpRelay(connection, uhid, g_stop);
      ::close(uhid);
      ::close(connection);
      std::lock_guard<std::mutex> lock(out_mutex);
      std::printf("mvx-uhid-relay: connection %d: %llu events to the kernel, %llu from it; %s\n",
                  number, static_cast<unsigned long long>(counts.ToKernel),
                  static_cast<unsigned long long>(counts.FromKernel), counts.End.c_str());
      std::fflush(stdout);
    });
  }
  for (std::thread& pump : pumps) pump.join();
  ::close(listener);
  return 0;
}
