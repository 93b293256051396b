#include "tests/lan/lan_test_fixture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

namespace halvyn::testing {

using rig::RigProcess;

void LanTest::SetUp() {
  HALVYN_REQUIRE_NETNS();
  rig_ = std::make_unique<rig::NetworkRig>();
  gateway_ = rig_->AddHost("gw");
  pc_ = rig_->AddHost("pc");
  rig_->AddAdapter(gateway_, "eth0", std::string(kGatewayAddress) + "/24");
  rig_->AddAdapter(pc_, "eth0", std::string(kPcAddress) + "/24");
  rig_->AddDefaultRoute(pc_, kGatewayAddress, "eth0");
  ASSERT_TRUE(rig_->ok()) << rig_->error();
}

void LanTest::TearDown() {
  halvyn_.reset();
  rig_.reset();
}

std::string LanTest::AddDevice(int n) {
  const std::string host = rig_->AddHost("dev" + std::to_string(n));
  rig_->AddAdapter(host, "eth0", DeviceAddress(n) + "/24");
  rig_->AddDefaultRoute(host, kGatewayAddress, "eth0");
  EXPECT_TRUE(rig_->ok()) << rig_->error();
  return host;
}

RigProcess& LanTest::StartDevsim(const std::string& host, std::vector<std::string> arguments) {
  if (std::find(arguments.begin(), arguments.end(), "--interval-ms") == arguments.end())
    arguments.insert(arguments.end(), {"--interval-ms", "200"});
  arguments.insert(arguments.begin(), HALVYN_DEVSIM);
  RigProcess& devsim = rig_->Spawn(host, arguments);
  EXPECT_TRUE(devsim.WaitForOutput("halvyn-devsim: listening", Scaled(5000))) << devsim.Output();
  return devsim;
}

HalvynProcess& LanTest::StartHalvyn(std::vector<std::string> arguments) {
  HalvynProcess::Options options;
  options.args = std::move(arguments);
  options.networkNamespace = pc_;
  halvyn_.emplace(options);
  EXPECT_TRUE(halvyn_->WaitUntilReady(std::chrono::milliseconds(Scaled(10000))))
      << halvyn_->Stderr();
  return *halvyn_;
}

std::string LanTest::MacOf(const std::string& host, const std::string& interfaceName) {
  const rig::CommandResult result =
      rig_->Exec(host, {"cat", "/sys/class/net/" + interfaceName + "/address"});
  EXPECT_EQ(result.exitCode, 0) << result.output;
  std::string mac = result.output;
  while (!mac.empty() && (mac.back() == '\n' || mac.back() == '\r')) mac.pop_back();
  return mac;
}

nlohmann::json LanTest::WaitForWindow(const std::function<bool(const nlohmann::json&)>& predicate,
                                      int timeoutMs) {
  const auto window = halvyn_->WaitForWindow(predicate, std::chrono::milliseconds(timeoutMs));
  if (window) return *window;
  ADD_FAILURE() << "the window never reached the expected state; last seen:\n"
                << halvyn_->Window().dump(1) << "\nstderr:\n"
                << halvyn_->Stderr();
  return halvyn_->Window();
}

nlohmann::json LanTest::WaitForDeviceRows(size_t rows) {
  return WaitForWindow([rows](const nlohmann::json& w) { return w["lanDevices"].size() == rows; });
}

std::vector<std::string> ReceivedLines(const RigProcess& devsim) {
  std::vector<std::string> lines;
  std::istringstream output(devsim.Output());
  std::string line;
  while (std::getline(output, line))
    if (line.rfind("rx ", 0) == 0) lines.push_back(line);
  return lines;
}

std::vector<std::string> WaitForReceived(RigProcess& devsim, size_t count, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::vector<std::string> lines = ReceivedLines(devsim);
  while (lines.size() < count && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    lines = ReceivedLines(devsim);
  }
  return lines;
}

std::string ZeroWriteLine(const std::string& source, unsigned registerAddress, size_t length) {
  char head[96];
  std::snprintf(head, sizeof head, "rx %s write register=0x%04X length=%zu data=", source.c_str(),
                registerAddress, length);
  return head + std::string(length * 2, '0');
}

std::string HexDigits(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (c != ':' && c != '-') digits += char(std::tolower(static_cast<unsigned char>(c)));
  return digits;
}

}  // namespace halvyn::testing
