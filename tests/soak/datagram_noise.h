// Random datagrams at every UDP port halvyn listens on, from a LAN host of
// its own: the relay port, the 32 slot ports, the device socket, and the
// discovery group. Seeded, bounded in count, sent at the caller's pace.
//
// The noise stays noise: it never forms a datagram that changes state a
// legitimate client owns (no "e", no "r" of route length, no "x" naming a
// slot, no names of the soak's clients, no probe, no STUN success answer),
// so the soak's own checks stay exact while every parser is hammered.
//
// Main thread only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "platform/ipv4.h"
#include "platform/udp_socket.h"

namespace halvyn::testing::soak {

class DatagramNoise {
 public:
  using InNamespace = std::function<void(const std::function<void()>& work)>;

  DatagramNoise(uint64_t seed, uint32_t serverAddress);
  // Opens the sockets inside the noise host's namespace.
  bool Open(const InNamespace& inNamespace);
  // Sends one datagram to a port chosen at random; false once the budget is spent.
  bool SendOne();
  uint64_t sent() const { return sent_; }

  static constexpr uint64_t kBudget = 200000;

 private:
  std::vector<uint8_t> RelayNoise();
  std::vector<uint8_t> SlotNoise();
  std::vector<uint8_t> DeviceSocketNoise();
  std::vector<uint8_t> DiscoveryNoise();
  std::vector<uint8_t> RandomBytes(size_t length);

  std::mt19937_64 random_;
  uint32_t server_;
  std::array<std::unique_ptr<UdpSocket>, 4> sockets_;
  uint64_t sent_ = 0;
};

}  // namespace halvyn::testing::soak
