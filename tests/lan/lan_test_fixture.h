// The real halvyn on a LAN of network namespaces, with halvyn-devsim as the
// audio devices:
//
//   gw    10.200.0.1    the PC's default gateway (answers its ARP)
//   pc    10.200.0.10   eth0, default via 10.200.0.1; halvyn runs here, its
//                       console on the namespace's own 127.0.0.1:7080
//   devN  10.200.0.10N  halvyn-devsim, default via 10.200.0.1 (its
//                       announcements leave there)
//
// MAC addresses are the ones the kernel gives each veth; tests read them from
// the namespace (MacOf) rather than trusting a fixed value. Every rig has its
// own namespaces, so tests run in parallel without sharing a port.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/rig/network_rig.h"
#include "tests/rig/rig_gtest.h"
#include "tests/support/halvyn_process.h"

namespace halvyn::testing {

// Waits are stretched in the sanitizer builds, where everything runs slower.
constexpr int kTimeScale = HALVYN_TEST_TIME_SCALE;
constexpr int Scaled(int milliseconds) {
  return milliseconds * kTimeScale;
}

class LanTest : public ::testing::Test {
 protected:
  static constexpr char kGatewayAddress[] = "10.200.0.1";
  static constexpr char kPcAddress[] = "10.200.0.10";

  // The switch, the gateway and the PC.
  void SetUp() override;
  void TearDown() override;

  // A device host 10.200.0.(100 + n) on the LAN; returns its namespace.
  std::string AddDevice(int n);
  static std::string DeviceAddress(int n) { return "10.200.0." + std::to_string(100 + n); }

  // Starts halvyn-devsim in host (announcing every 200 ms unless arguments
  // say otherwise) and waits until its register port is bound.
  rig::RigProcess& StartDevsim(const std::string& host, std::vector<std::string> arguments);

  // Starts halvyn in the PC namespace and waits until its console answers.
  HalvynProcess& StartHalvyn(std::vector<std::string> arguments = {});

  // The MAC address of interfaceName in host, as "aa:bb:cc:dd:ee:ff".
  std::string MacOf(const std::string& host, const std::string& interfaceName = "eth0");

  // Polls the window until predicate holds (halvyn must be running).
  nlohmann::json WaitForWindow(const std::function<bool(const nlohmann::json&)>& predicate,
                               int timeoutMs = Scaled(5000));
  // The window once its LAN device list has `rows` rows.
  nlohmann::json WaitForDeviceRows(size_t rows);

  std::unique_ptr<rig::NetworkRig> rig_;
  std::string gateway_;
  std::string pc_;
  // Declared after the rig: ended before the rig deletes its namespaces.
  std::optional<HalvynProcess> halvyn_;
};

// The device's own record of what it received: its "rx ..." lines, in order.
std::vector<std::string> ReceivedLines(const rig::RigProcess& devsim);
// Waits until the device has received at least count datagrams; returns its lines.
std::vector<std::string> WaitForReceived(rig::RigProcess& devsim, size_t count,
                                         int timeoutMs = Scaled(5000));

// The line halvyn-devsim prints for a block write of `length` zero bytes.
std::string ZeroWriteLine(const std::string& source, unsigned registerAddress, size_t length);

// Lower-case hex of bytes given as "aa:bb:.." or plain hex digits, colons dropped.
std::string HexDigits(const std::string& text);

}  // namespace halvyn::testing
