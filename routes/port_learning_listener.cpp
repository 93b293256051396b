#include "routes/port_learning_listener.h"

#include <array>

#include "routes/route_packets.h"

namespace halvyn {

PortLearningListener::PortLearningListener(uint16_t slotPort, PortLearnedReport report,
                                           RouteCounters& counters)
    : slotPort_(slotPort),
      report_(std::move(report)),
      counters_(counters),
      socket_(std::make_unique<UdpSocket>()) {}

std::unique_ptr<PortLearningListener> PortLearningListener::Start(uint16_t slotPort,
                                                                  Ipv4Endpoint bindAt,
                                                                  PortLearnedReport report,
                                                                  RouteCounters& counters,
                                                                  int* bindError) {
  std::unique_ptr<PortLearningListener> listener(
      new PortLearningListener(slotPort, std::move(report), counters));
  int error = 0;
  {
    MutexLock lock(listener->mutex_);
    error = listener->socket_->Bind(bindAt);
  }
  if (bindError) *bindError = error;
  if (error != 0) return nullptr;
  PortLearningListener* raw = listener.get();
  listener->worker_.Start([raw](std::stop_token) { raw->Run(); }, [raw] { raw->CloseSocket(); });
  return listener;
}

PortLearningListener::~PortLearningListener() {
  Close();
  Join();
}

Ipv4Endpoint PortLearningListener::localEndpoint() const {
  MutexLock lock(mutex_);
  return socket_ ? socket_->LocalEndpoint() : Ipv4Endpoint{};
}

void PortLearningListener::CloseSocket() {
  MutexLock lock(mutex_);
  if (socket_) socket_->Close();
}

void PortLearningListener::Join() {
  worker_.Join();
}

void PortLearningListener::Run() {
  const UdpSocket* socket = nullptr;  // stays valid: only this thread resets the pointer
  {
    MutexLock lock(mutex_);
    socket = socket_.get();
  }
  std::array<uint8_t, kReceiveBufferSize> buffer{};
  for (;;) {
    const ReceiveResult received = socket->Receive(buffer);
    // A datagram that does not fit the buffer is never read: it counts as a
    // receive error and ends the listener without a report.
    if (received.status == ReceiveResult::Status::kOversized) counters_.oversizedProbes.Add();
    if (received.status != ReceiveResult::Status::kDatagram) break;
    if (!IsPortProbe(std::span(buffer).first(received.size))) continue;
    report_(slotPort_, received.source.port);
    break;
  }
  {
    MutexLock lock(mutex_);
    socket_.reset();
  }
}

}  // namespace halvyn
