// Drives random sequences of route requests, releases, device selections,
// route-map clears and probes through the route handlers, with a recording
// device writer and relay socket, and checks after every step that the route
// bookkeeping is sound and that nothing was written or sent out of shape.
//
// Input: a sequence of steps, each an opcode byte followed by its operands
// (missing bytes read as 0):
//   0 request   length selector, count byte, k, rx_chan_count, names
//   1 request   length selector, count byte, 108 raw body bytes
//   2 release   selector; < 0x80: slot port 14366 + selector % 34, else two
//               LE bytes of a raw slot port; then a length selector
//   3 window    handles the oldest posted release
//   4 select    device's last octet
//   5 clear     empties the route map
//   6 probe     slot selector (14366 + s % 34), learnt port (2 bytes LE)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "devicelink/device_register_writer.h"
#include "fuzz/fuzz_input_reader.h"
#include "platform/byte_order.h"
#include "routes/forward_route_rows.h"
#include "routes/route_packets.h"
#include "routes/route_request_handler.h"
#include "routes/route_window_steps.h"
#include "tests/support/recording_sender.h"

namespace halvyn {
namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "route fuzzer: %s\n", what);
  std::abort();
}

using Reader = FuzzInputReader;

struct Write {
  uint16_t registerAddress;
  size_t size;
};

class RecordingWriter final : public DeviceRegisterWriter {
 public:
  void WriteDeviceRegisters(uint32_t, uint16_t registerAddress,
                            std::span<const uint8_t> data) override {
    writes.push_back({registerAddress, data.size()});
  }
  std::vector<Write> writes;
};

class CountingStarter final : public PortLearningStarter {
 public:
  void StartPortLearning(uint16_t slotPort) override {
    Check(SlotOfPort(slotPort).has_value(), "listener started for a port that is no slot port");
    ++started;
  }
  int started = 0;
};

// A write must be one whole block of a slot's area.
void CheckWrite(const Write& write) {
  const unsigned r = write.registerAddress;
  Check(r >= 1024 && r < 1024 + 32 * 64, "write outside the route register areas");
  if (r < 2048) {
    Check((r - 1024) % 32 == 0 && write.size == kTransmitTemplateSize, "bad transmit write");
  } else if ((r - 2048) % 32 == 0) {
    Check(write.size == kReceiveBlockSize, "bad receive block write");
  } else {
    Check((r - 2064) % 32 == 0 && write.size == kRouteSummaryBlockSize, "bad summary write");
  }
}

std::vector<uint8_t> RequestPacket(Reader& in, bool raw) {
  const size_t length = 120 + in.Byte() % 181;  // 120..300
  std::vector<uint8_t> packet(300, 0xEE);
  packet[0] = 'p';
  packet[1] = 'r';
  packet[2] = route_packet::kRequest;
  packet[3] = in.Byte();
  CRouteInfo body;
  if (raw) {
    std::array<uint8_t, route_info::kSize> bytes;
    for (auto& b : bytes) b = in.Byte();
    body = CRouteInfo(bytes);
  } else {
    body.set_tx_chan_count(in.Byte() % 11);
    body.set_rx_chan_count(in.Byte() % 11);
    const uint8_t names = in.Byte();
    body.set_tx_name((names & 1) ? "alpha" : "gamma");
    body.set_rx_name((names & 2) ? "beta" : "delta");
    body.set_tx_ip(NetworkAddress(198, 51, 100, 7));
    body.set_tx_port(5000);
    body.set_rx_ip(NetworkAddress(203, 0, 113, 9));
    body.set_rx_port(6000);
  }
  body.WriteTo(std::span(packet).subspan<route_packet::kBodyOffset, route_info::kSize>());
  packet.resize(length);
  return packet;
}

void RunSequence(const uint8_t* data, size_t size) {
  Reader in(data, size);
  RecordingWriter writer;
  testing::RecordingSender sender;
  CountingStarter starter;
  RouteProgrammer programmer(writer, [](uint32_t) {});
  RouteState state;
  std::deque<RouteSlot> posted;
  const std::map<std::string, Ipv4Endpoint> clients = {
      {"alpha", {NetworkAddress(198, 51, 100, 7), 5000}},
      {"beta", {NetworkAddress(203, 0, 113, 9), 6111}}};
  const ClientLookup lookup = [&clients](std::string_view name) -> std::optional<Ipv4Endpoint> {
    const auto found = clients.find(std::string(name));
    if (found == clients.end()) return std::nullopt;
    return found->second;
  };
  RouteCounters routeCounters;
  RelayCounters relayCounters;
  RouteRequestHandler handler(
      state, programmer, starter, lookup, [&posted](RouteSlot slot) { posted.push_back(slot); },
      routeCounters, relayCounters);
  SelectedRouteDevice device;
  ForwardRouteRows rows;
  const Ipv4Endpoint source{NetworkAddress(192, 0, 2, 1), 40000};

  for (int step = 0; step < 2000 && !in.done(); ++step) {
    const size_t writesBefore = writer.writes.size();
    sender.Take();  // what the step before sent was checked there
    const int startedBefore = starter.started;
    const RouteStateSnapshot before = state.Snapshot();

    const uint8_t op = in.Byte() % 7;
    switch (op) {
      case 0:
      case 1: {
        const auto packet = RequestPacket(in, op == 1);
        handler.HandleRouteRequest(packet, source, sender);
        const std::vector<testing::SentDatagram> sent = sender.Sent();
        if (packet.size() < route_packet::kSize) {
          Check(sent.empty(), "a short request was answered");
          break;
        }
        // "u" and "v" go to the request's Tx and Rx endpoints, unless one is
        // 0.0.0.0 or port 0: that reaches no one and is not sent.
        const CRouteInfo body = RouteRequestBody(std::span(packet).first<route_packet::kSize>());
        const size_t addressed = size_t(body.tx_ip() != 0 && body.tx_port() != 0) +
                                 size_t(body.rx_ip() != 0 && body.rx_port() != 0);
        Check(sent.size() == addressed, "a request did not get u and v");
        const bool granted = starter.started == startedBefore + 1;
        Check(granted || starter.started == startedBefore, "more than one listener");
        for (const testing::SentDatagram& reply : sent) {
          const uint8_t letter = reply.bytes[relay_packet::kCommandOffset];
          const uint16_t slotPort = LoadLe16(
              &reply
                   .bytes[route_packet::kBodyOffset + (letter == route_packet::kTxReply ? 28 : 8)]);
          Check(granted == (slotPort != 0), "a reply's slot port disagrees with the grant");
        }
        Check(writer.writes.size() == writesBefore + (granted ? 2 : 0), "receive writes");
        Check(granted || state.Snapshot().routeRecords == before.routeRecords,
              "a refusal changed a record");
        break;
      }
      case 2: {
        const uint8_t selector = in.Byte();
        const uint16_t slotPort = selector < 0x80 ? uint16_t(14366 + selector % 34) : in.Le16();
        const size_t length = 118 + in.Byte() % 120;
        std::vector<uint8_t> packet(length, 0);
        packet[0] = 'p';
        packet[1] = 'r';
        packet[2] = route_packet::kRelease;
        if (length >= 122) StoreLe16(&packet[route_packet::kBodyOffset], slotPort);
        const bool names = length >= 122 && SlotOfPort(slotPort).has_value();
        // One release per slot waits for the window at a time; "t" and "s" go
        // only where the slot's record addresses someone.
        const bool pending =
            names && std::find(posted.begin(), posted.end(), *SlotOfPort(slotPort)) != posted.end();
        size_t notices = 0;
        if (names && !pending) {
          const CRouteInfo& record = before.routeRecords[size_t(*SlotOfPort(slotPort))];
          Ipv4Endpoint rx = record.rx_endpoint();
          if (const auto client = lookup(record.rx_name())) rx.port = client->port;
          notices = size_t(record.tx_ip() != 0 && record.tx_port() != 0) +
                    size_t(rx.address != 0 && rx.port != 0);
        }
        const size_t postedBefore = posted.size();
        handler.HandleRouteRelease(packet, source, sender);
        Check(sender.Sent().size() == notices, "release notices");
        Check(posted.size() == postedBefore + (names && !pending ? 1 : 0),
              "a release posted while one of its slot waits, or none at all");
        Check(writer.writes.size() == writesBefore, "the relay side of a release wrote");
        break;
      }
      case 3:
        if (posted.empty()) break;
        if (ReleaseRouteSlot(posted.front(), state, programmer, device.address)) {
          rows.RemoveRouteRow(posted.front());
          Check(writer.writes.size() == writesBefore + 3, "release writes");
        }
        posted.pop_front();
        break;
      case 4:
        device.address = NetworkAddress(192, 168, 1, in.Byte());
        state.ResetForDeviceSelection(device.address);
        rows.Clear();
        break;
      case 5:
        state.ClearRouteMap();
        break;
      case 6: {
        const uint16_t slotPort = uint16_t(14366 + in.Byte() % 34);
        const uint16_t learntPort = in.Le16();
        const bool known = state.LookupRoute(slotPort).has_value();
        const auto row = ActivateRoute(slotPort, learntPort, state, programmer, device, lookup);
        Check(writer.writes.size() == writesBefore + (known ? 1 : 0), "template write");
        if (row) rows.AddRouteRow(*row);
        break;
      }
    }

    for (size_t i = writesBefore; i < writer.writes.size(); ++i) CheckWrite(writer.writes[i]);
    for (const testing::SentDatagram& reply : sender.Sent()) {
      Check(reply.bytes.size() == route_packet::kSize, "a reply is not 228 bytes");
    }
    const auto fault = FindRouteStateFault(state.Snapshot());
    if (fault) {
      std::fprintf(stderr, "route fuzzer: %s\n", fault->c_str());
      std::abort();
    }
  }
}

}  // namespace
}  // namespace halvyn

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0) halvyn::RunSequence(data, size);
  return 0;
}
