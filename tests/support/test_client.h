// A remote client for tests: a UDP socket on loopback speaking the relay protocol.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/udp_socket.h"
#include "tests/support/relay_datagrams.h"

namespace halvyn::testing {

class TestClient {
 public:
  explicit TestClient(uint16_t relayPort, uint32_t localAddress = NetworkAddress(127, 0, 0, 1))
      : relay_{NetworkAddress(127, 0, 0, 1), relayPort} {
    socket_.Bind({localAddress, 0});
  }

  void Send(const std::vector<uint8_t>& datagram) { socket_.SendTo(datagram, relay_); }
  void Send(uint8_t letter, const ClientRecord& record) { Send(RecordForm(letter, record)); }

  // The next datagram, or nothing within the timeout.
  std::optional<std::vector<uint8_t>> Receive(int timeoutMs = 2000) {
    if (!socket_.WaitReadable(timeoutMs)) return std::nullopt;
    std::vector<uint8_t> buffer(70000);
    auto result = socket_.ReceiveNow(buffer);
    if (result.status != ReceiveResult::Status::kDatagram) return std::nullopt;
    buffer.resize(result.size);
    return buffer;
  }
  // True when nothing arrives within the time.
  bool Silent(int timeoutMs = 300) { return !Receive(timeoutMs); }

  Ipv4Endpoint endpoint() const { return socket_.LocalEndpoint(); }

 private:
  UdpSocket socket_;
  Ipv4Endpoint relay_;
};

}  // namespace halvyn::testing
