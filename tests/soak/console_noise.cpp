#include "tests/soak/console_noise.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "tests/rig/network_namespace_thread.h"
#include "tests/soak/soak_clock.h"

namespace halvyn::testing::soak {

namespace {

constexpr int kAnswerWaitMs = 300;  // how long a connection may stay open after the request

std::string RandomText(std::mt19937_64& random, size_t length, bool printable) {
  std::string text(length, '\0');
  for (char& c : text) c = printable ? char('a' + random() % 26) : char(random());
  return text;
}

}  // namespace

ConsoleNoise::ConsoleNoise(uint64_t seed, std::string networkNamespace, Ipv4Endpoint console,
                           int64_t everyMs)
    : random_(seed),
      namespace_(std::move(networkNamespace)),
      console_(console),
      everyMs_(everyMs) {}

ConsoleNoise::~ConsoleNoise() {
  Stop();
}

void ConsoleNoise::Start() {
  thread_ = std::thread([this] { rig::RunInNetworkNamespace(namespace_, [this] { Run(); }); });
}

void ConsoleNoise::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

std::string ConsoleNoise::NextRequest() {
  const std::string host = "Host: 127.0.0.1:" + std::to_string(console_.port) + "\r\n";
  const std::string json = "Content-Type: application/json\r\n";
  switch (random_() % 9) {
    case 0:
      return RandomText(random_, 1 + random_() % 4096, false);
    case 1:  // a command name no command has
    {
      const std::string body = "{\"command\": \"" + RandomText(random_, 12, true) + "\"}";
      return "POST /api/command HTTP/1.1\r\n" + host + json +
             "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }
    case 2:  // JSON cut short
      return "POST /api/command HTTP/1.1\r\n" + host + json +
             "Content-Length: 64\r\n\r\n{\"command\": ";
    case 3:  // not JSON at all
    {
      const std::string body = RandomText(random_, random_() % 300, false);
      return "POST /api/command HTTP/1.1\r\n" + host + json +
             "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }
    case 4:  // a foreign Host (DNS rebinding) on a harmless command
      return "POST /api/command HTTP/1.1\r\nHost: attacker.example\r\n" + json +
             "Content-Length: 20\r\n\r\n{\"command\":\"about\"}";
    case 5:  // a header line far too long
      return "GET /api/window HTTP/1.1\r\n" + host +
             "X-Filler: " + RandomText(random_, 20000, true) + "\r\n\r\n";
    case 6:  // a broken chunked body
      return "POST /api/command HTTP/1.1\r\n" + host + json +
             "Transfer-Encoding: chunked\r\n\r\nZZ\r\n" + RandomText(random_, 10, true) + "\r\n";
    case 7:  // nonsense request lines
      return RandomText(random_, 8, true) + " /" + RandomText(random_, 30, false) + " HTTP/9." +
             std::to_string(random_() % 10) + "\r\n" + host + "\r\n";
    default:  // paths that do not exist or climb out
      return "GET /../../etc/passwd HTTP/1.1\r\n" + host + "Content-Length: -1\r\n\r\n";
  }
}

bool ConsoleNoise::Exchange(const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(console_.port);
  address.sin_addr.s_addr = console_.address;
  bool answered = false;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    ++connections_;
    // The server may close before reading everything: a failed send is part of the game.
    (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    char buffer[4096];
    const int64_t deadline = NowMs() + kAnswerWaitMs;
    std::string head;
    for (int64_t now = NowMs(); now < deadline; now = NowMs()) {
      pollfd readable{fd, POLLIN, 0};
      if (::poll(&readable, 1, int(deadline - now)) <= 0) break;
      const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      if (head.size() < 16) head.append(buffer, size_t(got));
    }
    answered = head.rfind("HTTP/1.1 ", 0) == 0;
  }
  ::close(fd);
  return answered;
}

void ConsoleNoise::Run() {
  while (!stop_) {
    if (Exchange(NextRequest())) ++answered_;
    std::this_thread::sleep_for(std::chrono::milliseconds(everyMs_));
  }
}

}  // namespace halvyn::testing::soak
