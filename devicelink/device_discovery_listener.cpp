#include "devicelink/device_discovery_listener.h"

#include <vector>

#include "platform/udp_socket.h"

namespace halvyn {

DeviceDiscoveryListener::DeviceDiscoveryListener(DiscoveryListenerConfig config,
                                                 DiscoveryListenerCallbacks callbacks)
    : config_(config), callbacks_(std::move(callbacks)) {}

DeviceDiscoveryListener::~DeviceDiscoveryListener() {
  if (!thread_.joinable()) return;
  stopRequested_.store(true);
  wake_.Wake();
  thread_.join();
}

bool DeviceDiscoveryListener::Start() {
  if (!wake_.valid() || thread_.joinable()) return false;
  {
    MutexLock lock(mutex_);
    exited_ = false;
  }
  // A listener stopped before may be started again: forget its stop.
  stopRequested_.store(false);
  wake_.Clear();
  thread_ = std::thread([this] { Run(); });
  return true;
}

bool DeviceDiscoveryListener::Stop() {
  PlainStopWaiter waiter;
  return Stop(waiter);
}

bool DeviceDiscoveryListener::Stop(StopWaiter& waiter) {
  if (!thread_.joinable()) return true;
  {
    MutexLock lock(mutex_);
    waiter_ = &waiter;
  }
  // The flag is set before the wake-up, so the listener sees it when it wakes.
  stopRequested_.store(true);
  wake_.Wake();
  const bool ended = waiter.WaitUntil(
      [this] {
        MutexLock lock(mutex_);
        return exited_;
      },
      kStopTimeoutMs);
  {
    MutexLock lock(mutex_);
    waiter_ = nullptr;  // after this the listener no longer calls the waiter
  }
  if (!ended) return false;
  thread_.join();  // it has left Run: this returns at once
  return true;
}

bool DeviceDiscoveryListener::running() const {
  MutexLock lock(mutex_);
  return thread_.joinable() && !exited_;
}

void DeviceDiscoveryListener::MarkExited() {
  MutexLock lock(mutex_);
  exited_ = true;
  // Under the lock, so a Stop that gives up cannot destroy its waiter meanwhile.
  if (waiter_ != nullptr) waiter_->Wake();
}

void DeviceDiscoveryListener::Run() {
  Listen();
  MarkExited();
}

void DeviceDiscoveryListener::Listen() {
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
  while (!stopRequested_.load()) {
    const ReadableOrWakeup::Result waited = wake_.Wait(socket, -1);
    if (stopRequested_.load()) break;
    if (waited == ReadableOrWakeup::Result::kError) {
      if (callbacks_.onNotice) callbacks_.onNotice(wake_.error(), "PostRecv failed.\n");
      break;
    }
    // Only Stop wakes the listener, and it sets the flag first.
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
