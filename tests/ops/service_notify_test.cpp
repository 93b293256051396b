// halvyn as a Type=notify service: the test plays systemd's part with a
// datagram socket named by NOTIFY_SOCKET, and checks that READY=1 comes only
// when the console and the relay answer, and STOPPING=1 at SIGTERM.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/udp_socket.h"
#include "tests/support/halvyn_process.h"
#include "tests/support/private_network.h"
#include "tests/support/test_client.h"

namespace halvyn::testing {
namespace {

using nlohmann::json;

// The service manager's end of the notify protocol: a bound AF_UNIX datagram
// socket, exported as NOTIFY_SOCKET for the processes this test starts.
class NotifySocket {
 public:
  NotifySocket() {
    char pattern[] = "/tmp/halvyn-notify-XXXXXX";
    directory_ = mkdtemp(pattern);
    const std::string path = (directory_ / "notify").string();
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    setenv("NOTIFY_SOCKET", path.c_str(), 1);
  }
  ~NotifySocket() {
    unsetenv("NOTIFY_SOCKET");
    if (fd_ >= 0) close(fd_);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
  bool bound() const { return bound_; }

  // The next notification, or nothing within the timeout.
  std::optional<std::string> Receive(int timeoutMs) {
    pollfd readable{fd_, POLLIN, 0};
    if (poll(&readable, 1, timeoutMs) != 1) return std::nullopt;
    char buffer[4096];
    const ssize_t size = recv(fd_, buffer, sizeof buffer, 0);
    if (size < 0) return std::nullopt;
    return std::string(buffer, size_t(size));
  }

  // Reads notifications until one contains text (at most timeoutMs in all).
  std::optional<std::string> WaitFor(std::string_view text, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      auto message = Receive(int(std::max<int64_t>(left.count(), 1)));
      if (!message) break;
      received_.push_back(*message);
      if (message->find(text) != std::string::npos) return message;
    }
    return std::nullopt;
  }
  const std::vector<std::string>& received() const { return received_; }

 private:
  std::filesystem::path directory_;
  int fd_ = -1;
  bool bound_ = false;
  std::vector<std::string> received_;
};

std::string Joined(const std::vector<std::string>& messages) {
  std::string text;
  for (const auto& message : messages) text += "[" + message + "] ";
  return text;
}

TEST(ServiceNotify, ReadyComesWhenConsoleAndRelayAnswerAndStoppingAtSigterm) {
  REQUIRE_PRIVATE_NETWORK();
  NotifySocket notify;
  ASSERT_TRUE(notify.bound());
  HalvynProcess halvyn({"--start"});

  const auto ready = notify.WaitFor("READY=1", 10000);
  ASSERT_TRUE(ready) << "no READY=1; got " << Joined(notify.received()) << "\n" << halvyn.Stderr();
  EXPECT_EQ(*ready, "READY=1\nSTATUS=Relay server running on UDP port 7002");
  // Ready means ready: no waiting from here on.
  const json window = halvyn.Window();
  ASSERT_FALSE(window.is_null()) << "console did not answer at READY=1";
  EXPECT_EQ(window["startStop"], "Stop");
  TestClient client(7002);
  client.Send('e', NamedRecord("alpha"));
  const auto reply = client.Receive();
  ASSERT_TRUE(reply);
  EXPECT_EQ((*reply)[2], 'g');

  halvyn.Signal(SIGTERM);
  EXPECT_TRUE(notify.WaitFor("STOPPING=1", 5000)) << Joined(notify.received());
  EXPECT_EQ(halvyn.WaitForExit(std::chrono::seconds(10)), 0);
}

TEST(ServiceNotify, RelayPortTakenKeepsTheServiceStartingUntilTheOperatorStartsIt) {
  REQUIRE_PRIVATE_NETWORK();
  UdpSocket squatter;
  ASSERT_EQ(squatter.Bind({0, 7002}), 0);
  NotifySocket notify;
  ASSERT_TRUE(notify.bound());
  HalvynProcess halvyn({"--start"});
  ASSERT_TRUE(halvyn.WaitUntilReady());

  // The console is up but the relay is not: the status says so, readiness waits.
  EXPECT_TRUE(notify.WaitFor("STATUS=Relay server stopped", 5000)) << Joined(notify.received());
  EXPECT_FALSE(notify.WaitFor("READY=1", 300)) << Joined(notify.received());

  json body;
  ASSERT_EQ(halvyn.Command("start-stop", {{"relayPort", "7003"}}, &body), 200);
  ASSERT_EQ(body["startStop"], "Stop");
  const auto ready = notify.WaitFor("READY=1", 5000);
  ASSERT_TRUE(ready) << Joined(notify.received());
  EXPECT_EQ(*ready, "READY=1\nSTATUS=Relay server running on UDP port 7003");
}

}  // namespace
}  // namespace halvyn::testing
