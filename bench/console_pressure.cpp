#include "bench/console_pressure.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace halvyn::bench {

namespace {

constexpr char kSlowHeader[] =
    "GET /api/window HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Filler: "
    "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n\r\n";
constexpr char kStreamRequest[] = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

size_t Count(const std::string& kind) {
  return kind == "slow" ? 24 : kind == "streams" ? 40 : kind == "idle" ? 1100 : 0;
}

}  // namespace

bool ConsolePressure::KnownKind(const std::string& kind) {
  return Count(kind) > 0;
}

ConsolePressure::ConsolePressure(const std::string& kind, uint16_t consolePort)
    : kind_(kind), port_(consolePort), peers_(Count(kind)) {
  // 1,100 sockets besides the clients': raise the soft limit to the hard one.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  for (Peer& peer : peers_) Open(peer);
  thread_ = std::thread([this] { Run(); });
}

ConsolePressure::~ConsolePressure() {
  stop_ = true;
  thread_.join();
  for (Peer& peer : peers_)
    if (peer.fd >= 0) close(peer.fd);
}

void ConsolePressure::Open(Peer& peer) {
  peer.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  peer.sent = 0;
  if (peer.fd < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.2", &address.sin_addr);
  bind(peer.fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  address.sin_port = htons(port_);
  // Non-blocking: a server at its limit leaves the connection in its backlog.
  connect(peer.fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ++opened_;
}

void ConsolePressure::Run() {
  int64_t nextByteMs = NowMs();
  while (!stop_) {
    std::vector<pollfd> watched;
    std::vector<Peer*> owners;
    for (Peer& peer : peers_) {
      if (peer.fd < 0) continue;
      short events = POLLIN;
      if (kind_ == "streams" && peer.sent == 0) events |= POLLOUT;
      watched.push_back({peer.fd, events, 0});
      owners.push_back(&peer);
    }
    poll(watched.data(), watched.size(), 100);
    const int64_t now = NowMs();
    for (size_t i = 0; i < watched.size(); ++i) {
      Peer& peer = *owners[i];
      if (watched[i].revents & POLLOUT) {
        peer.sent = send(peer.fd, kStreamRequest, sizeof kStreamRequest - 1, MSG_NOSIGNAL) > 0;
      }
      if (watched[i].revents & (POLLIN | POLLHUP | POLLERR)) {
        char buffer[65536];
        const ssize_t count = recv(peer.fd, buffer, sizeof buffer, 0);
        if (count <= 0 && !(count < 0 && errno == EAGAIN)) {
          close(peer.fd);
          peer.fd = -1;
          peer.reopenAtMs = now + 1000;
          ++closed_;
        }
      }
    }
    if (kind_ == "slow" && now >= nextByteMs) {
      nextByteMs = now + 1000;
      for (Peer& peer : peers_) {
        if (peer.fd < 0 || peer.sent + 1 >= sizeof kSlowHeader) continue;
        if (send(peer.fd, kSlowHeader + peer.sent, 1, MSG_NOSIGNAL) == 1) ++peer.sent;
      }
    }
    for (Peer& peer : peers_)
      if (peer.fd < 0 && now >= peer.reopenAtMs) Open(peer);
  }
}

}  // namespace halvyn::bench
