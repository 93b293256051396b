// Recording stand-ins for the device writer, the pause and the listener
// starter. All of them append to one event log, as tests/support's
// RecordingSender does when given it, so tests can check the order of writes,
// pauses, listener starts and sends.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "devicelink/device_register_writer.h"
#include "routes/client_lookup.h"
#include "routes/port_learning_starter.h"
#include "routes/route_programmer.h"
#include "tests/support/event_log.h"
#include "tests/support/recording_sender.h"

namespace halvyn::testing {

struct RegisterWrite {
  uint32_t deviceAddress;
  uint16_t registerAddress;
  std::vector<uint8_t> data;
};

class RecordingRegisterWriter final : public DeviceRegisterWriter {
 public:
  explicit RecordingRegisterWriter(EventLog& log) : log_(log) {}
  void WriteDeviceRegisters(uint32_t deviceAddress, uint16_t registerAddress,
                            std::span<const uint8_t> data) override {
    {
      std::lock_guard lock(mutex_);
      writes_.push_back({deviceAddress, registerAddress, {data.begin(), data.end()}});
    }
    log_.Add("write " + std::to_string(registerAddress) + " " + std::to_string(data.size()));
  }
  std::vector<RegisterWrite> writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
  }

 private:
  EventLog& log_;
  mutable std::mutex mutex_;
  std::vector<RegisterWrite> writes_;
};

class RecordingStarter final : public PortLearningStarter {
 public:
  explicit RecordingStarter(EventLog& log) : log_(log) {}
  void StartPortLearning(uint16_t slotPort) override {
    log_.Add("listen " + std::to_string(slotPort));
  }

 private:
  EventLog& log_;
};

inline PauseFunction RecordingPause(EventLog& log) {
  return [&log](uint32_t ms) { log.Add("pause " + std::to_string(ms)); };
}

// A client table by name, for lookups.
inline ClientLookup LookupIn(const std::map<std::string, Ipv4Endpoint>& clients) {
  return [&clients](std::string_view name) -> std::optional<Ipv4Endpoint> {
    const auto found = clients.find(std::string(name));
    if (found == clients.end()) return std::nullopt;
    return found->second;
  };
}

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> bytes;
  for (int v : values) bytes.push_back(uint8_t(v));
  return bytes;
}

}  // namespace halvyn::testing

#include "routes/route_info.h"
#include "routes/route_packets.h"

namespace halvyn::testing {

// An "r" datagram: "pr", "r", the count byte, a record area of 0xEE bytes
// (which every reply must zero), the body, and 0xDD up to `length`.
inline std::vector<uint8_t> RouteRequestPacket(const CRouteInfo& body, uint8_t countByte = 0x5A,
                                               size_t length = route_packet::kSize) {
  std::vector<uint8_t> packet(std::max(length, route_packet::kSize), 0xDD);
  std::fill(packet.begin() + 4, packet.begin() + 120, uint8_t{0xEE});
  packet[0] = 'p';
  packet[1] = 'r';
  packet[2] = route_packet::kRequest;
  packet[3] = countByte;
  body.WriteTo(std::span(packet).subspan<route_packet::kBodyOffset, route_info::kSize>());
  packet.resize(length);
  return packet;
}

// An "x" datagram naming slotPort, `length` bytes long (at least 122 to carry it).
inline std::vector<uint8_t> ReleasePacket(uint16_t slotPort, size_t length = route_packet::kSize) {
  std::vector<uint8_t> packet(std::max<size_t>(length, 122), 0);
  packet[0] = 'p';
  packet[1] = 'r';
  packet[2] = route_packet::kRelease;
  packet[120] = uint8_t(slotPort);
  packet[121] = uint8_t(slotPort >> 8);
  packet.resize(length);
  return packet;
}

// A request body from alpha (198.51.100.7:5000) to beta (203.0.113.9:6000),
// every uninterpreted byte set to a recognisable value.
inline CRouteInfo AlphaToBetaRequest(uint8_t txChanCount, uint8_t rxChanCount = 0) {
  std::array<uint8_t, route_info::kSize> bytes;
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(0x80 + i);
  CRouteInfo body{bytes};
  body.set_tx_param(0x1234);
  body.set_tx_ip(NetworkAddress(198, 51, 100, 7));
  body.set_tx_port(5000);
  body.set_tx_chan_count(txChanCount);
  body.set_rx_ip(NetworkAddress(203, 0, 113, 9));
  body.set_rx_port(6000);
  body.set_rx_chan_count(rxChanCount);
  body.set_tx_name("alpha");
  body.set_rx_name("beta");
  return body;
}

}  // namespace halvyn::testing
