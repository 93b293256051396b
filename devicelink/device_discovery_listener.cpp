#include "devicelink/device_discovery_listener.h"

#include <vector>

#include "platform/udp_socket.h"

namespace halvyn {

DeviceDiscoveryListener::DeviceDiscoveryListener(DiscoveryListenerConfig config,
                                                 DiscoveryListenerCallbacks callbacks)
    : config_(config), callbacks_(std::move(callbacks)) {}

DeviceDiscoveryListener::~DeviceDiscoveryListener() {
  worker_.RequestStop();
  worker_.Join();
}

bool DeviceDiscoveryListener::Start() {
  if (!wake_.valid() || worker_.started()) return false;
  wake_.Clear();  // a wake-up left by an earlier Stop
  return worker_.Start([this](std::stop_token stop) { Listen(stop); }, [this] { wake_.Wake(); });
}

bool DeviceDiscoveryListener::Stop() {
  PlainStopWaiter waiter;
  return Stop(waiter);
}

bool DeviceDiscoveryListener::Stop(StopWaiter& waiter) {
  return worker_.Stop(waiter, kStopTimeoutMs);
}

bool DeviceDiscoveryListener::running() const {
  return worker_.started() && !worker_.finished();
}

void DeviceDiscoveryListener::Listen(const std::stop_token& stop) {
  UdpSocket socket;
  // The TTL only matters for sending, which this socket never does; a failure is harmless.
  socket.SetMulticastTtl(config_.ttl);
  if (const int error = socket.Bind({config_.interfaceAddress, config_.port}, true); error != 0) {
    if (callbacks_.showMessage)
      callbacks_.showMessage("Multicast bind failed:" + std::to_string(error));
    return;
  }
  if (socket.JoinGroup(config_.group, config_.interfaceAddress) != 0) {
    if (callbacks_.showMessage) callbacks_.showMessage("JoinGroup failed");
    socket.Close();
    if (callbacks_.onNotice) callbacks_.onNotice(-1, "JoinGroup failed!\n");
    return;
  }

  std::vector<uint8_t> buffer(kReceiveBufferSize);
  while (!stop.stop_requested()) {
    const ReadableOrWakeup::Result waited = wake_.Wait(socket, -1);
    if (stop.stop_requested()) break;
    if (waited == ReadableOrWakeup::Result::kError) {
      if (callbacks_.onNotice) callbacks_.onNotice(wake_.error(), "PostRecv failed.\n");
      break;
    }
    // Only a stop wakes the listener, and it is requested before the wake.
    if (waited != ReadableOrWakeup::Result::kReadable) continue;
    const ReceiveResult received = socket.ReceiveNow(buffer);
    // Failed receives, empty and oversized datagrams are dropped; the listener goes on.
    if (received.status != ReceiveResult::Status::kDatagram || received.size == 0) continue;
    if (!callbacks_.onDatagram) continue;
    if (!callbacks_.onDatagram(received.source, std::span(buffer.data(), received.size))) break;
  }
  // Leaving the group may fail if the interface has gone; the socket closes regardless.
  socket.DropGroup(config_.group, config_.interfaceAddress);
}

}  // namespace halvyn
