// halvyn-devicelink-probe: runs one device-link piece the way the window
// does, for the integration tests that run it inside a rig namespace.
//
//   identity                          print the local network identity
//   discover --seconds N --count K    run the discovery listener with a real
//                                     window queue until K devices are known
//   write --to A.B.C.D --register R --hex BYTES   one register write
//   select --to A.B.C.D [--local A.B.C.D --mac M] the selection's writes
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "devicelink/device_discovery_listener.h"
#include "devicelink/device_link_constants.h"
#include "devicelink/device_map.h"
#include "devicelink/device_selection_writes.h"
#include "devicelink/device_socket_writer.h"
#include "devicelink/local_network_identity.h"
#include "platform/event.h"
#include "platform/message_queue.h"
#include "platform/tick_count.h"
#include "platform/udp_socket.h"

namespace {

using namespace halvyn;

std::map<std::string, std::string> Options(int argc, char** argv) {
  std::map<std::string, std::string> options;
  for (int i = 2; i + 1 < argc; i += 2) options[argv[i]] = argv[i + 1];
  return options;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

int Identity() {
  const LocalNetworkIdentity identity = ReadLocalNetworkIdentity();
  std::printf(
      "localAddress 0x%08X\nlocalAddressText %s\ngatewayText %s\nlocalMac %s\ngatewayMac %s\n",
      identity.localAddress, DottedText(HostToNetworkOrder(identity.localAddress)).c_str(),
      identity.gatewayText.c_str(), MacText(identity.localMac).c_str(),
      MacText(identity.gatewayMac).c_str());
  return 0;
}

int Discover(int seconds, size_t count) {
  WindowMessageQueue queue;
  DeviceLinkCounters counters;
  DeviceMap devices{counters};
  ManualResetEvent finished;
  std::unique_ptr<DeviceDiscoveryListener> listener;

  // Window thread: what the window's close does.
  auto close = [&] {
    const uint32_t start = TickCount();
    WindowQueueStopWaiter waiter(queue);
    const bool ended = listener->Stop(waiter);
    std::printf("stopped ended=%d ms=%u\n", ended ? 1 : 0, TickCount() - start);
    std::fflush(stdout);
    queue.End();
  };
  DiscoveryListenerCallbacks callbacks;
  callbacks.onDatagram = [&](Ipv4Endpoint source, std::span<const uint8_t> bytes) {
    return queue.Send([&] {
      if (devices.AddAnnouncement(bytes.data(), bytes.size(), source.address) == nullptr) return;
      for (const DeviceListRow& row : DeviceListRows(devices)) {
        std::printf("row");
        for (const std::string& column : row.columns) std::printf("|%s", column.c_str());
        std::printf("|mac=%s b18=%u b19=%u\n", MacText(row.device->macAddress).c_str(),
                    row.device->announceByte18, row.device->announceByte19);
      }
      std::fflush(stdout);
      if (devices.size() >= count && !finished.IsSet()) {
        finished.Set();
        queue.Post(close);
      }
    });
  };
  callbacks.onNotice = [](int code, const std::string& text) {
    std::printf("notice %d %s\n", code, Escaped(text).c_str());
    std::fflush(stdout);
  };
  callbacks.showMessage = [](const std::string& text) {
    std::printf("message %s\n", text.c_str());
    std::fflush(stdout);
  };
  listener = std::make_unique<DeviceDiscoveryListener>(DiscoveryListenerConfig{}, callbacks);
  queue.BindToCurrentThread();
  listener->Start();
  std::thread timer([&] {
    if (!finished.WaitFor(seconds * 1000)) queue.Post(close);
  });
  queue.Run();
  finished.Set();
  timer.join();
  listener.reset();
  return devices.size() >= count ? 0 : 3;
}

std::vector<uint8_t> HexBytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// The window's device socket: bound to 19002; on failure it still sends from a port the kernel
// picks.
void BindDeviceSocket(UdpSocket& socket) {
  if (socket.Bind({0, kDeviceSocketPort}) != 0) std::printf("%s\n", kBindingIpFailureText);
}

int Write(const std::string& to, const std::string& registerText, const std::string& hex) {
  const std::optional<uint32_t> device = ParseDotted(to);
  if (!device) return 2;
  UdpSocket socket;
  BindDeviceSocket(socket);
  DeviceLinkCounters counters;
  DeviceSocketWriter writer(socket, counters);
  writer.WriteDeviceRegisters(*device, uint16_t(std::stoul(registerText, nullptr, 0)),
                              HexBytes(hex));
  std::printf("sent\n");
  return 0;
}

int Select(const std::map<std::string, std::string>& options) {
  const std::optional<uint32_t> device =
      ParseDotted(options.count("--to") ? options.at("--to") : "");
  if (!device) return 2;
  DeviceSelectionTarget target;
  target.deviceAddress = *device;
  if (options.count("--local") && options.count("--mac")) {
    target.localAddress = NetworkToHostOrder(ParseDotted(options.at("--local")).value_or(0));
    target.localMac = ParseMac(options.at("--mac")).value_or(MacAddress{});
  } else {
    const LocalNetworkIdentity identity = ReadLocalNetworkIdentity();
    target.localAddress = identity.localAddress;
    target.localMac = identity.localMac;
  }
  UdpSocket socket;
  BindDeviceSocket(socket);
  DeviceLinkCounters counters;
  DeviceSocketWriter writer(socket, counters);
  PerformDeviceSelectionWrites(socket, writer, counters, target, SleepMilliseconds,
                               [] { std::printf("setup sent\n"); });
  std::printf("selected\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: halvyn-devicelink-probe identity|discover|write|select ...\n");
    return 2;
  }
  const std::string command = argv[1];
  auto options = Options(argc, argv);
  auto get = [&](const char* name, const char* fallback) {
    return options.count(name) ? options[name] : std::string(fallback);
  };
  if (command == "identity") return Identity();
  if (command == "discover")
    return Discover(std::stoi(get("--seconds", "10")), std::stoul(get("--count", "1")));
  if (command == "write") return Write(get("--to", ""), get("--register", "0"), get("--hex", ""));
  if (command == "select") return Select(options);
  return 2;
}
