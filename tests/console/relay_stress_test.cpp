// Clients hammer every command while the operator presses Start/Stop and
// Clear clients: the window, the receive thread and the sweeper must stay
// correct under ThreadSanitizer, and nothing may hang.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "platform/udp_socket.h"
#include "server/server_parts.h"
#include "tests/support/relay_datagrams.h"

namespace halvyn {
namespace {

using testing::ConnectRequest;
using testing::NamedRecord;
using testing::RecordForm;

TEST(RelayStress, ClientsAndOperatorTogetherStayConsistent) {
  WindowMessageQueue window;
  MonotonicTickClock clock;
  // A short silence limit so the sweeper removes clients during the run too.
  ServerParts parts(
      window, clock,
      {.relayTiming = {50, 200}, .startNetwork = false, .logOut = nullptr, .errorOut = nullptr});
  const ClientTable& table = parts.clientTable();
  CHalvynDlg& dlg = parts.window();

  std::atomic<uint16_t> port{0};
  std::thread windowThread([&] {
    window.BindToCurrentThread();
    dlg.OnInitDialog();
    dlg.RunCommand(ConsoleCommand::kStartStop,
                   {.localAddress = std::nullopt, .relayPort = "0", .stunServer = std::nullopt},
                   -1);
    port = parts.relayServer().boundPort();
    window.Run();
  });
  while (port == 0) std::this_thread::yield();
  const uint16_t relayPort = port;

  std::atomic<bool> stop{false};
  std::vector<std::thread> clients;
  for (int c = 0; c < 4; ++c) {
    clients.emplace_back([&, c] {
      UdpSocket socket;
      socket.Bind({NetworkAddress(127, 0, 0, 1), 0});
      std::mt19937 random(c);
      const Ipv4Endpoint relay{NetworkAddress(127, 0, 0, 1), relayPort};
      uint8_t sink[70000];
      while (!stop) {
        const std::string name = "c" + std::to_string(c) + "-" + std::to_string(random() % 8);
        ClientRecord record = NamedRecord(name);
        record.set_p2p_port(uint16_t(random()));
        static constexpr uint8_t kLetters[] = {'e', 'k', 'f', 'i', 'k', 'e'};
        const uint8_t letter = kLetters[random() % 6];
        if (random() % 7 == 0) {
          socket.SendTo(ConnectRequest(record, "c0-" + std::to_string(random() % 8)), relay);
        } else {
          socket.SendTo(RecordForm(letter, record), relay);
        }
        while (socket.ReceiveNow(sink).status == ReceiveResult::Status::kDatagram) {
        }
      }
    });
  }

  // The operator, through the window queue as the console does it.
  for (int i = 0; i < 60; ++i) {
    const ConsoleCommand command =
        i % 3 == 2 ? ConsoleCommand::kClearClients : ConsoleCommand::kStartStop;
    ASSERT_TRUE(window.Send([&] {
      dlg.RunCommand(command,
                     {.localAddress = std::nullopt,
                      .relayPort = std::to_string(relayPort),
                      .stunServer = std::nullopt},
                     -1);
    }));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // The window answers promptly while all this goes on.
    const auto asked = std::chrono::steady_clock::now();
    ASSERT_TRUE(window.Send([&] { (void)dlg.View(false); }));
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
  }
  stop = true;
  for (auto& client : clients) client.join();
  window.Send([&] { dlg.OnExit(); });
  windowThread.join();
  EXPECT_FALSE(parts.relayServer().running());
  // Every name left in the table is unique and in the list box at most once.
  const auto records = table.Snapshot();
  std::set<std::string> names;
  for (const auto& record : records) EXPECT_TRUE(names.insert(std::string(record.name())).second);
}

}  // namespace
}  // namespace halvyn
