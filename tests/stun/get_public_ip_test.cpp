// Get Public IP and the answers on the device socket, through the real halvyn
// in the test's own network namespace, against Debian's coturn as the STUN
// server. In each test the name stun.test resolves to 127.0.0.1, 127.0.0.2
// and 127.0.0.3 through a hosts file that only this test and the processes it
// starts see; DNS has no server to ask, so nothing else resolves.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

#include "platform/udp_socket.h"
#include "tests/stun/file_replacements.h"
#include "tests/stun/stun_answers.h"
#include "tests/stun/stun_server_process.h"
#include "tests/support/file_overlay.h"
#include "tests/support/halvyn_process.h"
#include "tests/support/private_network.h"

namespace halvyn::testing {
namespace {

using nlohmann::json;

constexpr uint16_t kStunPort = 3478;
constexpr uint16_t kDeviceSocketPort = 19002;
constexpr auto kAnswerTimeout = std::chrono::seconds(10);  // generous for the sanitizer builds
constexpr int kReceiveTimeoutMs = 5000;
const uint32_t kLoopback1 = NetworkAddress(127, 0, 0, 1);
const uint32_t kLoopback2 = NetworkAddress(127, 0, 0, 2);
const uint32_t kLoopback3 = NetworkAddress(127, 0, 0, 3);
const Ipv4Endpoint kDeviceSocket{kLoopback1, kDeviceSocketPort};

struct Datagram {
  std::vector<uint8_t> bytes;
  Ipv4Endpoint source;
};

// The next datagram on socket, or nothing within the timeout.
std::optional<Datagram> Receive(const UdpSocket& socket, int timeoutMs = kReceiveTimeoutMs) {
  if (!socket.WaitReadable(timeoutMs)) return std::nullopt;
  std::vector<uint8_t> buffer(2048);
  const ReceiveResult got = socket.ReceiveNow(buffer);
  if (got.status != ReceiveResult::Status::kDatagram) return std::nullopt;
  buffer.resize(got.size);
  return Datagram{std::move(buffer), got.source};
}

std::vector<uint8_t> TransactionId(const std::vector<uint8_t>& request) {
  return {request.begin() + 8, request.end()};
}

// A Binding Request as halvyn sends it: 20 bytes, type 0x0001, no attributes,
// the magic cookie, from the device socket's port.
void ExpectBindingRequest(const Datagram& datagram) {
  ASSERT_EQ(datagram.bytes.size(), 20u);
  EXPECT_EQ(std::vector<uint8_t>(datagram.bytes.begin(), datagram.bytes.begin() + 8),
            (std::vector<uint8_t>{0x00, 0x01, 0x00, 0x00, 0x21, 0x12, 0xa4, 0x42}));
  EXPECT_EQ(datagram.source.port, kDeviceSocketPort);
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class GetPublicIp : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_PRIVATE_NETWORK();
    const std::array<std::pair<const char*, const char*>, 3> files = {{
        {"/etc/hosts",
         "127.0.0.1 localhost\n"
         "127.0.0.1 stun.test\n127.0.0.2 stun.test\n127.0.0.3 stun.test\n"},
        {"/etc/nsswitch.conf", "hosts: files dns\n"},
        // Nothing listens on 127.0.0.1:53 here: every query is refused at once.
        {"/etc/resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n"},
    }};
    for (const auto& [path, contents] : files) {
      overlays_.push_back(std::make_unique<FileOverlay>(path, contents));
      ASSERT_TRUE(overlays_.back()->active()) << overlays_.back()->error();
    }
    char pattern[] = "/tmp/halvyn-stun-test-XXXXXX";
    workDir_ = mkdtemp(pattern);
  }

  void TearDown() override {
    halvyn_.reset();
    stunServer_.reset();
    if (!workDir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(workDir_, ignored);
    }
  }

  // halvyn in workDir_, with a server.txt of fileContents when given.
  void StartHalvyn(std::optional<std::string> fileContents = std::nullopt) {
    if (fileContents) {
      std::ofstream file(workDir_ / "server.txt", std::ios::binary);
      file << *fileContents;
    }
    HalvynProcess::Options options;
    options.workDir = workDir_;
    halvyn_.emplace(options);
    ASSERT_TRUE(halvyn_->WaitUntilReady()) << halvyn_->Stderr();
  }

  // coturn answering on 127.0.0.1:3478.
  void StartStunServer() {
    stunServer_.emplace(Ipv4Endpoint{kLoopback1, kStunPort});
    ASSERT_TRUE(stunServer_->started())
        << "turnserver cannot be run: scripts/install-deps.sh test installs coturn";
    ASSERT_TRUE(stunServer_->WaitUntilAnswering()) << stunServer_->Output();
  }

  // Get Public IP with serverText in the STUN server box; the window after it.
  json Press(const std::string& serverText, json controls = json::object()) {
    controls["stunServer"] = serverText;
    json window;
    EXPECT_EQ(halvyn_->Command("get-public-ip", controls, &window), 200);
    return window;
  }

  bool WaitForPublicAddress(const std::string& text) {
    return halvyn_
        ->WaitForWindow([&](const json& w) { return w["publicAddress"] == text; }, kAnswerTimeout)
        .has_value();
  }

  std::string AddressFile() const { return ReadFile(workDir_ / "server.txt"); }

  // Sockets on port 3478 of one address, standing in for STUN servers.
  static std::unique_ptr<UdpSocket> Listener(uint32_t address) {
    auto socket = std::make_unique<UdpSocket>();
    EXPECT_EQ(socket->Bind({address, kStunPort}), 0);
    return socket;
  }

  std::vector<std::unique_ptr<FileOverlay>> overlays_;
  std::filesystem::path workDir_;
  std::optional<StunServerProcess> stunServer_;
  std::optional<HalvynProcess> halvyn_;
};

TEST_F(GetPublicIp, AddressAsServerTextShowsTheMappedAddressAndWritesTheFile) {
  StartStunServer();
  StartHalvyn();
  ASSERT_FALSE(std::filesystem::exists(workDir_ / "server.txt"));

  // The port box is read when the answer comes, so the typed port is kept too.
  Press("127.0.0.1", {{"relayPort", "7100"}});
  ASSERT_TRUE(WaitForPublicAddress("127.0.0.1")) << stunServer_->Output();

  EXPECT_EQ(AddressFile(), "127.0.0.1\r\n7100\r\n");
  const json window = halvyn_->Window();
  EXPECT_EQ(window["relayPort"], "7100");
  EXPECT_EQ(window["messageBoxes"], json::array());
  EXPECT_EQ(window["messageLog"], "");
}

TEST_F(GetPublicIp, NameOfThreeAddressesGetsOneRequestAtEach) {
  StartStunServer();  // 127.0.0.1
  const auto second = Listener(kLoopback2);
  const auto third = Listener(kLoopback3);
  StartHalvyn();

  Press("stun.test");
  ASSERT_TRUE(WaitForPublicAddress("127.0.0.1")) << "coturn was not asked or not heard";
  // A second press is the marker: each listener holds the first press's
  // requests, then the second's, which carry a fresh transaction ID.
  Press("stun.test");

  std::optional<std::vector<uint8_t>> firstPressRequest;
  for (const UdpSocket* listener : {second.get(), third.get()}) {
    const auto first = Receive(*listener);
    ASSERT_TRUE(first);
    ASSERT_NO_FATAL_FAILURE(ExpectBindingRequest(*first));
    if (firstPressRequest) {
      EXPECT_EQ(first->bytes, *firstPressRequest);  // the same request
    }
    firstPressRequest = first->bytes;

    const auto next = Receive(*listener);
    ASSERT_TRUE(next);
    ASSERT_NO_FATAL_FAILURE(ExpectBindingRequest(*next));
    EXPECT_NE(TransactionId(next->bytes), TransactionId(first->bytes))
        << "a second request of the first press, or no fresh transaction ID";
  }
}

TEST_F(GetPublicIp, UnresolvableServerTextShowsInvalidUrlAndSendsNothing) {
  // Whatever halvyn sends to port 3478 of any address it can reach arrives here.
  const auto anyAddress = Listener(0);
  StartHalvyn();

  Press("no-such-host.test");
  const json window = Press(" stun.test");  // used as typed: not trimmed, so not found
  EXPECT_EQ(window["messageBoxes"],
            json::array({"Invalid URL:no-such-host.test", "Invalid URL: stun.test"}));

  // The marker: three requests of one press, with one transaction ID. Anything
  // sent before them would arrive first.
  Press("stun.test");
  std::vector<std::vector<uint8_t>> received;
  for (int i = 0; i < 3; ++i) {
    const auto datagram = Receive(*anyAddress);
    ASSERT_TRUE(datagram);
    ASSERT_NO_FATAL_FAILURE(ExpectBindingRequest(*datagram));
    received.push_back(datagram->bytes);
  }
  EXPECT_EQ(received[1], received[0]);
  EXPECT_EQ(received[2], received[0]);
  EXPECT_EQ(halvyn_->Window()["publicAddress"], "");
  EXPECT_FALSE(std::filesystem::exists(workDir_ / "server.txt"));
}

TEST_F(GetPublicIp, AnswerRepeatingTheShownAddressDoesNotRewriteTheFile) {
  StartStunServer();
  // 127.0.0.2 passes halvyn's request to coturn and coturn's answer back, so
  // the test knows when that answer is queued on the device socket.
  const auto relay = Listener(kLoopback2);
  // A third line that any rewrite would drop.
  StartHalvyn("127.0.0.1\r\n9000\r\nkept\r\n");
  ASSERT_EQ(halvyn_->Window()["publicAddress"], "127.0.0.1");
  FileReplacements replacements(workDir_, "server.txt");
  ASSERT_TRUE(replacements.watching());

  // The port has changed since the file was written: still no rewrite.
  Press("127.0.0.2", {{"relayPort", "7777"}});
  const auto request = Receive(*relay);
  ASSERT_TRUE(request);
  UdpSocket asker;
  ASSERT_EQ(asker.Bind({kLoopback1, 0}), 0);  // coturn maps it to 127.0.0.1
  ASSERT_TRUE(asker.SendTo(request->bytes, {kLoopback1, kStunPort}));
  const auto answer = Receive(asker);
  ASSERT_TRUE(answer) << stunServer_->Output();
  ASSERT_GE(answer->bytes.size(), 20u);
  ASSERT_EQ(answer->bytes[0], 0x01);
  ASSERT_EQ(answer->bytes[1], 0x01);
  ASSERT_TRUE(relay->SendTo(answer->bytes, kDeviceSocket));

  // Datagrams are read in order, so once this new address shows, the
  // repeated one has been handled.
  ASSERT_TRUE(relay->SendTo(MappedAnswer(NetworkAddress(198, 51, 100, 7), 40000), kDeviceSocket));
  ASSERT_TRUE(WaitForPublicAddress("198.51.100.7"));
  EXPECT_EQ(replacements.Count(), 1) << "the repeated address rewrote the file";
  EXPECT_EQ(AddressFile(), "198.51.100.7\r\n7777\r\n");
}

TEST_F(GetPublicIp, AnswerWhileThePortBoxIsRefusedStillTakesTheAddress) {
  const auto server = Listener(kLoopback2);
  StartHalvyn();

  Press("127.0.0.2", {{"relayPort", "70x2"}});
  const auto request = Receive(*server);
  ASSERT_TRUE(request);
  ASSERT_TRUE(server->SendTo(MappedAnswer(NetworkAddress(198, 51, 100, 5), 40000), kDeviceSocket));

  ASSERT_TRUE(WaitForPublicAddress("198.51.100.5"));
  const json window = halvyn_->Window();
  EXPECT_EQ(window["messageBoxes"], json::array({"Enter a positive integer."}));
  EXPECT_EQ(window["relayPort"], "7002");  // the last accepted port, shown again
  EXPECT_EQ(AddressFile(), "198.51.100.5\r\n7002\r\n");
}

TEST_F(GetPublicIp, AnswerThatCannotBeKeptIsStillShownAndTheOperatorIsTold) {
  // A folder where the file should be: it can be neither read nor replaced.
  std::filesystem::create_directory(workDir_ / "server.txt");
  StartHalvyn();
  ASSERT_EQ(halvyn_->Window()["relayPort"], "7002");
  UdpSocket server;
  ASSERT_EQ(server.Bind({kLoopback1, 0}), 0);

  ASSERT_TRUE(server.SendTo(MappedAnswer(NetworkAddress(198, 51, 100, 6), 40000), kDeviceSocket));
  ASSERT_TRUE(WaitForPublicAddress("198.51.100.6"));
  json window = halvyn_->Window();
  EXPECT_EQ(window["messageBoxes"],
            json::array({"The public address is shown but not kept: cannot write server.txt: "
                         "Is a directory"}));
  EXPECT_NE(halvyn_->Stderr().find("cannot write server.txt: Is a directory (the new address is "
                                   "shown but not kept)\n"),
            std::string::npos)
      << halvyn_->Stderr();
  // The console goes on: the box is dismissed, and the next new address is
  // shown and reported again.
  ASSERT_EQ(halvyn_->Command("dismiss-message", nullptr, &window), 200);
  EXPECT_EQ(window["messageBoxes"], json::array());
  ASSERT_TRUE(server.SendTo(MappedAnswer(NetworkAddress(198, 51, 100, 8), 40000), kDeviceSocket));
  ASSERT_TRUE(WaitForPublicAddress("198.51.100.8"));
  EXPECT_EQ(halvyn_->Window()["messageBoxes"].size(), 1u);
  // Nothing left behind: only the folder and halvyn's own output files.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(workDir_))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"server.txt", "stderr.txt", "stdout.txt"}));
  EXPECT_TRUE(std::filesystem::is_directory(workDir_ / "server.txt"));
}

TEST_F(GetPublicIp, FileThatCannotBeReplacedKeepsItsOldContents) {
  {
    std::ofstream file(workDir_ / "server.txt", std::ios::binary);
    file << "192.0.2.1\r\n7100\r\n";
  }
  // A file mounted over server.txt: it reads as before, but nothing may be
  // renamed onto it (EBUSY), the way a file held by another program fails.
  FileOverlay held(workDir_ / "server.txt", "192.0.2.1\r\n7100\r\n");
  ASSERT_TRUE(held.active()) << held.error();
  StartHalvyn();
  ASSERT_EQ(halvyn_->Window()["publicAddress"], "192.0.2.1");
  UdpSocket server;
  ASSERT_EQ(server.Bind({kLoopback1, 0}), 0);

  ASSERT_TRUE(server.SendTo(MappedAnswer(NetworkAddress(198, 51, 100, 6), 40000), kDeviceSocket));
  ASSERT_TRUE(WaitForPublicAddress("198.51.100.6"));
  EXPECT_EQ(halvyn_->Window()["messageBoxes"],
            json::array({"The public address is shown but not kept: cannot write server.txt: "
                         "Device or resource busy"}));
  EXPECT_EQ(AddressFile(), "192.0.2.1\r\n7100\r\n");
  // No temporary file left beside it.
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(workDir_))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"server.txt", "stderr.txt", "stdout.txt"}));
}

TEST_F(GetPublicIp, SilentServerChangesNothingAndALaterAnswerStillCounts) {
  StartStunServer();  // 127.0.0.1
  // 127.0.0.2 reads the requests and never answers.
  const auto silent = Listener(kLoopback2);
  StartHalvyn("192.0.2.1\r\n7100\r\n");
  FileReplacements replacements(workDir_, "server.txt");
  ASSERT_TRUE(replacements.watching());

  Press("127.0.0.2");
  const auto request = Receive(*silent);
  ASSERT_TRUE(request);
  ASSERT_NO_FATAL_FAILURE(ExpectBindingRequest(*request));
  // No timer and no retry: nothing more is sent, nothing changes.
  EXPECT_FALSE(Receive(*silent, 1500)) << "the request was sent again";
  json window;
  ASSERT_EQ(halvyn_->Command("start-stop", nullptr, &window), 200);
  EXPECT_EQ(window["startStop"], "Stop");
  EXPECT_EQ(window["publicAddress"], "192.0.2.1");
  EXPECT_EQ(window["messageBoxes"], json::array());
  ASSERT_EQ(halvyn_->Command("clear-messages", nullptr, &window), 200);
  EXPECT_EQ(replacements.Count(), 0);
  EXPECT_EQ(AddressFile(), "192.0.2.1\r\n7100\r\n");

  // A later press at a server that answers is taken as usual.
  Press("127.0.0.1");
  ASSERT_TRUE(WaitForPublicAddress("127.0.0.1")) << stunServer_->Output();
  EXPECT_EQ(AddressFile(), "127.0.0.1\r\n7100\r\n");
  EXPECT_EQ(replacements.Count(), 1);
}

TEST_F(GetPublicIp, DeviceSocketReadsEveryQueuedDatagramAndKeepsOnlyAnswers) {
  StartHalvyn();
  FileReplacements replacements(workDir_, "server.txt");
  ASSERT_TRUE(replacements.watching());
  UdpSocket device;
  ASSERT_EQ(device.Bind({kLoopback1, 0}), 0);

  std::vector<uint8_t> emptyMessage = MappedAnswer(NetworkAddress(198, 51, 100, 98), 1);
  emptyMessage[2] = emptyMessage[3] = 0;  // message length 0: no attributes
  // Nobody asked: answers are not matched to requests. Every answer that
  // brings a new address is written, however many wait in the queue together.
  std::vector<std::vector<uint8_t>> burst = {
      DeviceTraffic(), emptyMessage,
      MappedAnswer(NetworkAddress(198, 51, 100, 99), 1, kXorMappedAddress, 0, 0x0111),  // error
  };
  for (uint8_t i = 1; i <= 10; ++i) {
    burst.push_back(MappedAnswer(NetworkAddress(198, 51, 100, i), 7002,
                                 i % 2 ? kMappedAddress : kXorMappedAddress));
    burst.push_back(DeviceTraffic());
  }
  burst.push_back(MappedAnswer(NetworkAddress(198, 51, 100, 10), 7002));  // repeats the last
  burst.push_back(MappedAnswer(NetworkAddress(198, 51, 100, 97), 7002, kXorMappedAddress, 513));
  burst.push_back(MappedAnswer(NetworkAddress(198, 51, 100, 20), 7002, kXorMappedAddress, 512));
  for (const auto& datagram : burst) ASSERT_TRUE(device.SendTo(datagram, kDeviceSocket));

  ASSERT_TRUE(WaitForPublicAddress("198.51.100.20"));
  // 198.51.100.1 to .10, then .20: nothing else, nothing twice.
  EXPECT_EQ(replacements.Count(), 11);
  EXPECT_EQ(AddressFile(), "198.51.100.20\r\n7002\r\n");
  const json window = halvyn_->Window();
  EXPECT_EQ(window["messageBoxes"], json::array());
  EXPECT_EQ(window["messageLog"], "");
}

}  // namespace
}  // namespace halvyn::testing
