// The console's limits with the real halvyn, each at its boundary with small
// counts (--console-limits): connections at once, per IP address, event
// streams, the deadline for a whole request header; and one halvyn per
// console address. Raw TCP connections from chosen loopback addresses play
// the clients, so what the server does with each is seen byte for byte.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/halvyn_process.h"
#include "tests/support/private_network.h"

namespace halvyn::testing {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr char kGetWindow[] = "GET /api/window HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
constexpr char kGetEvents[] = "GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

// One TCP connection to the console from the given loopback source address.
class Connection {
 public:
  explicit Connection(const char* source = "127.0.0.1") : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, source, &local.sin_addr);
    sockaddr_in console = local;
    inet_pton(AF_INET, "127.0.0.1", &console.sin_addr);
    console.sin_port = htons(7080);
    connected_ = bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                 connect(fd_, reinterpret_cast<sockaddr*>(&console), sizeof console) == 0;
  }
  ~Connection() { close(fd_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool connected() const { return connected_; }
  bool Send(std::string_view bytes) {
    return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
  }
  // Reads until text has arrived, the server closed, or the time is up;
  // returns everything read so far.
  std::string ReadUntil(std::string_view text, milliseconds timeout = milliseconds(2000)) {
    const auto deadline = Clock::now() + timeout;
    while (received_.find(text) == std::string::npos && !closed_) {
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
      pollfd readable{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&readable, 1, int(left.count())) <= 0) break;
      char buffer[4096];
      const ssize_t count = recv(fd_, buffer, sizeof buffer, 0);
      if (count <= 0) closed_ = true;
      if (count > 0) received_.append(buffer, size_t(count));
    }
    return received_;
  }
  // Forgets what was read so far.
  void Clear() { received_.clear(); }
  // True when the server closes the connection within the time.
  bool ClosedWithin(milliseconds timeout) {
    ReadUntil("\x01 never sent", timeout);
    return closed_;
  }

 private:
  int fd_;
  bool connected_ = false;
  bool closed_ = false;
  std::string received_;
};

bool Answered(Connection& connection, std::string_view status = "HTTP/1.1 200 ") {
  connection.Clear();
  return connection.Send(kGetWindow) && connection.ReadUntil("\r\n\r\n").starts_with(status);
}

HalvynProcess StartWithLimits(const std::string& limits) {
  return HalvynProcess({"--console-limits", limits});
}

TEST(ConsoleLimits, OneAddressGetsThePerIpCountAndNoMore) {
  REQUIRE_PRIVATE_NETWORK();
  HalvynProcess halvyn = StartWithLimits("20,2,4,10");
  ASSERT_TRUE(halvyn.WaitUntilReady());
  Connection first("127.0.0.2"), second("127.0.0.2"), third("127.0.0.2");
  ASSERT_TRUE(first.connected() && second.connected() && third.connected());
  EXPECT_TRUE(third.ClosedWithin(milliseconds(1000)));  // closed unanswered
  EXPECT_TRUE(Answered(first));
  EXPECT_TRUE(Answered(second));
  Connection operatorConnection("127.0.0.1");  // another address is not held back
  EXPECT_TRUE(Answered(operatorConnection));
}

TEST(ConsoleLimits, ConnectionsBeyondTheTotalWaitUntilOneCloses) {
  REQUIRE_PRIVATE_NETWORK();
  HalvynProcess halvyn = StartWithLimits("3,3,4,10");
  ASSERT_TRUE(halvyn.WaitUntilReady());
  auto idle1 = std::make_unique<Connection>("127.0.0.2");
  Connection idle2("127.0.0.3"), idle3("127.0.0.4");
  for (Connection* idle : {idle1.get(), &idle2, &idle3}) ASSERT_TRUE(Answered(*idle));
  Connection waiting("127.0.0.1");
  ASSERT_TRUE(waiting.Send(kGetWindow));
  EXPECT_EQ(waiting.ReadUntil("\r\n\r\n", milliseconds(500)), "");
  idle1.reset();
  EXPECT_TRUE(waiting.ReadUntil("\r\n\r\n").starts_with("HTTP/1.1 200 "));
}

TEST(ConsoleLimits, AHeaderNotCompleteByTheDeadlineIsCutThoughBytesKeepComing) {
  REQUIRE_PRIVATE_NETWORK();
  HalvynProcess halvyn = StartWithLimits("20,10,4,1");
  ASSERT_TRUE(halvyn.WaitUntilReady());
  Connection stream;
  ASSERT_TRUE(stream.Send(kGetEvents));
  ASSERT_NE(stream.ReadUntil("event: window").find("event: window"), std::string::npos);
  Connection slow, prompt;
  // One byte every 100 ms: the header would take 4.6 s.
  const std::string header = kGetWindow;
  const auto start = Clock::now();
  size_t sent = 0;
  bool cut = false;
  while (sent < header.size() && Clock::now() - start < std::chrono::seconds(3)) {
    if (!slow.Send(header.substr(sent++, 1)) || slow.ClosedWithin(milliseconds(100))) {
      cut = true;
      break;
    }
    if (sent == 5) {  // a header sent within the deadline is answered
      std::this_thread::sleep_for(milliseconds(400));
      EXPECT_TRUE(Answered(prompt));
    }
  }
  const auto elapsed = Clock::now() - start;
  EXPECT_TRUE(cut);
  EXPECT_GE(elapsed, milliseconds(900));
  EXPECT_LE(elapsed, milliseconds(2000));
  // A kept-alive connection that sends no next request meets the same deadline;
  // a stream whose header came in time stays.
  EXPECT_TRUE(prompt.ClosedWithin(milliseconds(2000)));
  EXPECT_NE(stream.ReadUntil(": heartbeat").find(": heartbeat"), std::string::npos);
  EXPECT_FALSE(stream.ClosedWithin(milliseconds(100)));
}

TEST(ConsoleLimits, EventStreamsBeyondTheLimitAre503UntilOneEnds) {
  REQUIRE_PRIVATE_NETWORK();
  HalvynProcess halvyn = StartWithLimits("20,10,2,10");
  ASSERT_TRUE(halvyn.WaitUntilReady());
  auto first = std::make_unique<Connection>();
  Connection second, third;
  for (Connection* stream : {first.get(), &second}) {
    ASSERT_TRUE(stream->Send(kGetEvents));
    EXPECT_NE(stream->ReadUntil("event: window").find("event: window"), std::string::npos);
  }
  ASSERT_TRUE(third.Send(kGetEvents));
  const std::string refused = third.ReadUntil("}");
  EXPECT_TRUE(refused.starts_with("HTTP/1.1 503 ")) << refused;
  EXPECT_NE(refused.find(R"({"error":"too many event streams"})"), std::string::npos);
  // A request on a stream-less connection is still answered.
  EXPECT_TRUE(Answered(third, "HTTP/1.1 200 "));
  // The server notices a stream's end at its next heartbeat or two; then its
  // place is free again.
  first.reset();
  bool opened = false;
  for (const auto end = Clock::now() + std::chrono::seconds(4); !opened && Clock::now() < end;) {
    Connection another;
    opened = another.Send(kGetEvents) && another.ReadUntil("\r\n").starts_with("HTTP/1.1 200 ");
    if (!opened) std::this_thread::sleep_for(milliseconds(200));
  }
  EXPECT_TRUE(opened);
}

TEST(ConsoleLimits, ASecondHalvynOnTheSameConsoleAddressExitsWithTheReason) {
  REQUIRE_PRIVATE_NETWORK();
  HalvynProcess first;
  ASSERT_TRUE(first.WaitUntilReady());
  HalvynProcess second;
  EXPECT_EQ(second.WaitForExit(std::chrono::seconds(5)), 1);
  EXPECT_EQ(second.Stderr(),
            "halvyn: cannot listen on 127.0.0.1:7080: Address already in use (is another halvyn "
            "running?)\n");
  EXPECT_EQ(second.Stdout(), "");
  for (int i = 0; i < 12; ++i) EXPECT_EQ(first.Command("clear-messages"), 200);
}

}  // namespace
}  // namespace halvyn::testing
