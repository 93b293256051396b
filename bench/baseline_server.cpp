// halvyn-bench-baseline: the bare servers Halvyn is measured against, built
// with the same compiler, flags and platform layer.
//
//   halvyn-bench-baseline echo|drain|fanout [--port N] [--receive-buffer BYTES]
//
//   echo    answers every datagram with its own bytes (recvmmsg, sendmmsg)
//   drain   receives and drops every datagram (recvmmsg)
//   fanout  a datagram beginning with 'R' registers its source (answered
//           with one byte 'r'); one beginning with 'P' is echoed (a latency
//           probe); any other sends one datagram of 120 bytes per registered
//           source to every registered source, in order of registration
//           (sendmmsg): the shape of the relay's "h" list to every client
//
// Binds 0.0.0.0:PORT (default 7002) with a receive buffer of BYTES (default
// 4 MiB, as the relay socket asks for; 0 keeps the system's default) and runs
// until killed.
#include <array>
#include <iostream>
#include <string_view>
#include <vector>

#include "platform/udp_batch.h"
#include "platform/udp_socket.h"

namespace {

constexpr size_t kBatch = 64;
constexpr size_t kDatagramSize = 2048;
constexpr size_t kFanoutBlock = 120;

}  // namespace

int main(int argc, char** argv) {
  using namespace halvyn;
  constexpr char kUsage[] =
      "usage: halvyn-bench-baseline echo|drain|fanout [--port N] [--receive-buffer BYTES]\n";
  if (argc < 2 || argc % 2 != 0) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string_view mode = argv[1];
  uint16_t port = 7002;
  int receiveBuffer = 4 * 1024 * 1024;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string_view flag = argv[i];
    if (flag == "--port") {
      port = uint16_t(std::stoul(argv[i + 1]));
    } else if (flag == "--receive-buffer") {
      receiveBuffer = std::stoi(argv[i + 1]);
    } else {
      std::cerr << kUsage;
      return 2;
    }
  }
  if (mode != "echo" && mode != "drain" && mode != "fanout") {
    std::cerr << "halvyn-bench-baseline: unknown mode " << mode << "\n";
    return 2;
  }
  UdpSocket socket;
  if (const int error = socket.Bind({0, port})) {
    std::cerr << "halvyn-bench-baseline: bind failed " << error << "\n";
    return 1;
  }
  if (receiveBuffer > 0 && socket.RequestReceiveBufferSize(receiveBuffer) == 0)
    std::cerr << "halvyn-bench-baseline: the receive buffer was refused\n";
  ReceiveBatch batch(kBatch, kDatagramSize);
  std::array<OutgoingDatagram, kBatch> replies;
  std::vector<Ipv4Endpoint> registered;
  std::vector<uint8_t> fanout;
  for (;;) {
    const BatchReceiveResult result = batch.Receive(socket, /*wait=*/true);
    if (result.status == ReceiveResult::Status::kClosed) return 0;
    if (result.status == ReceiveResult::Status::kError) continue;
    if (mode == "echo") {
      for (size_t i = 0; i < result.count; ++i) replies[i] = {batch.bytes(i), batch.source(i)};
      SendEach(socket, std::span(replies).first(result.count));
    } else if (mode == "fanout") {
      for (size_t i = 0; i < result.count; ++i) {
        const std::span<uint8_t> bytes = batch.bytes(i);
        if (!bytes.empty() && bytes[0] == 'R') {
          registered.push_back(batch.source(i));
          fanout.assign(registered.size() * kFanoutBlock, 'h');
          static constexpr uint8_t kJoined[1] = {'r'};
          socket.SendTo(kJoined, batch.source(i));
        } else if (!bytes.empty() && bytes[0] == 'P') {
          socket.SendTo(bytes, batch.source(i));
        } else if (!registered.empty()) {
          socket.SendToEach(fanout, registered);
        }
      }
    }
  }
}
