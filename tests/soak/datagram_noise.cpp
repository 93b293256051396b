#include "tests/soak/datagram_noise.h"

#include "devicelink/device_announcement.h"
#include "relay/relay_packet.h"
#include "routes/route_packets.h"
#include "routes/route_slot.h"

namespace halvyn::testing::soak {

namespace {

constexpr uint16_t kRelayPort = 7002;
constexpr uint16_t kDeviceSocketPort = 19002;
const Ipv4Endpoint kDiscoveryGroup{NetworkAddress(224, 0, 0, 222), 9887};

}  // namespace

DatagramNoise::DatagramNoise(uint64_t seed, uint32_t serverAddress)
    : random_(seed), server_(serverAddress) {}

bool DatagramNoise::Open(const InNamespace& inNamespace) {
  bool ok = true;
  inNamespace([&] {
    for (auto& socket : sockets_) {
      socket = std::make_unique<UdpSocket>();
      ok = ok && socket->Bind({0, 0}) == 0;
    }
  });
  return ok;
}

std::vector<uint8_t> DatagramNoise::RandomBytes(size_t length) {
  std::vector<uint8_t> bytes(length);
  for (uint8_t& b : bytes) b = uint8_t(random_());
  return bytes;
}

std::vector<uint8_t> DatagramNoise::RelayNoise() {
  // Lengths around every boundary the relay has: the header, a record, a
  // route packet, its 1024-byte buffer, and far beyond.
  static constexpr size_t kLengths[] = {0,   1,   3,   4,    119,  120,  121, 122,
                                        227, 228, 229, 1023, 1024, 1025, 4000};
  const size_t length =
      random_() % 2 ? kLengths[random_() % std::size(kLengths)] : random_() % 1500;
  std::vector<uint8_t> packet = RandomBytes(length);
  if (length >= 4 && random_() % 4 != 0) {
    // Mostly well-formed headers, so the commands themselves are reached.
    static constexpr uint8_t kLetters[] = {'f', 'g', 'h', 'i', 'k', 'p',
                                           'r', 'x', 'z', 'u', 0,   0xFF};
    packet[0] = relay_packet::kMagic0;
    packet[1] = relay_packet::kMagic1;
    packet[2] = kLetters[random_() % std::size(kLetters)];
  }
  if (packet.size() >= 120 && packet[0] == relay_packet::kMagic0 &&
      packet[1] == relay_packet::kMagic1) {
    const uint8_t letter = packet[2];
    if (letter == relay_packet::kLogin) packet[2] = 'z';
    // Names of real clients start "soak-": a noise name never does.
    packet[4] = '#';
    if (letter == relay_packet::kConnect && packet.size() > 120) packet[120] = '#';
    if (letter == route_packet::kRequest && packet.size() >= route_packet::kSize)
      packet.resize(120 + random_() % 108);  // too short to be a route request
    if (letter == route_packet::kRelease && packet.size() >= route_packet::kReleaseMinSize) {
      // Slot ports around the valid range, never inside it.
      const uint16_t port = random_() % 2 ? uint16_t(random_() % kFirstSlotPort)
                                          : uint16_t(kLastSlotPort + 1 + random_() % 100);
      packet[120] = uint8_t(port);
      packet[121] = uint8_t(port >> 8);
    }
  }
  return packet;
}

std::vector<uint8_t> DatagramNoise::SlotNoise() {
  // At most the listener's 512 bytes (a longer one ends it, by design), and
  // never a probe: "w" at byte 2 of 120 bytes or more.
  std::vector<uint8_t> packet = RandomBytes(random_() % 513);
  if (packet.size() > 2 && random_() % 3 == 0) packet[2] = route_packet::kProbe;
  if (packet.size() >= route_packet::kProbeMinSize && packet[2] == route_packet::kProbe)
    packet[2] = 'W';
  return packet;
}

std::vector<uint8_t> DatagramNoise::DeviceSocketNoise() {
  std::vector<uint8_t> packet = RandomBytes(random_() % 600);
  if (packet.size() >= 20 && random_() % 2) {
    // A STUN header with the magic cookie, but never a success answer,
    // which would rightly change the public address.
    static constexpr uint8_t kTypes[][2] = {{0x00, 0x01}, {0x01, 0x11}, {0x00, 0x11}, {0x01, 0x02}};
    const auto& type = kTypes[random_() % std::size(kTypes)];
    packet[0] = type[0];
    packet[1] = type[1];
    packet[4] = 0x21;
    packet[5] = 0x12;
    packet[6] = 0xA4;
    packet[7] = 0x42;
  }
  if (packet.size() >= 2 && packet[0] == 0x01 && packet[1] == 0x01) packet[1] = 0x11;
  return packet;
}

std::vector<uint8_t> DatagramNoise::DiscoveryNoise() {
  namespace Layout = device_announcement;
  const size_t length = random_() % 2 ? Layout::kSize + random_() % 3 - 1 : random_() % 200;
  std::vector<uint8_t> packet = RandomBytes(length);
  if (packet.size() == Layout::kSize && random_() % 2) {
    // A real announcement of this one host, with random texts and lengths.
    std::copy(std::begin(Layout::kMagic), std::end(Layout::kMagic), packet.begin());
    packet[4] = Layout::kFollowingLength[0];
    packet[5] = Layout::kFollowingLength[1];
  }
  return packet;
}

bool DatagramNoise::SendOne() {
  if (sent_ >= kBudget) return false;
  std::vector<uint8_t> datagram;
  Ipv4Endpoint to{server_, 0};
  switch (random_() % 4) {
    case 0:
      datagram = RelayNoise();
      to.port = kRelayPort;
      break;
    case 1:
      datagram = SlotNoise();
      to.port = uint16_t(kFirstSlotPort + random_() % kRouteSlotCount);
      break;
    case 2:
      datagram = DeviceSocketNoise();
      to.port = kDeviceSocketPort;
      break;
    default:
      datagram = DiscoveryNoise();
      to = kDiscoveryGroup;
  }
  // Refusals (nothing listening on a free slot port) are part of the noise.
  (void)sockets_[random_() % sockets_.size()]->SendTo(datagram, to);
  ++sent_;
  return true;
}

}  // namespace halvyn::testing::soak
