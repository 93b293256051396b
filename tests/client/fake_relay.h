// A stand-in relay on a loopback port for the client's own tests: it records
// every datagram it receives and lets the test answer each one.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/udp_socket.h"

namespace halvyn::testing {

class FakeRelay {
 public:
  using Answer = std::function<void(const std::vector<uint8_t>& datagram, Ipv4Endpoint source,
                                    const UdpSocket& socket)>;

  explicit FakeRelay(Answer answer = {}) : answer_(std::move(answer)) {
    socket_.Bind({NetworkAddress(127, 0, 0, 1), 0});
    thread_ = std::thread([this] { Run(); });
  }
  ~FakeRelay() {
    socket_.Close();
    thread_.join();
  }

  Ipv4Endpoint endpoint() const { return socket_.LocalEndpoint(); }
  const UdpSocket& socket() const { return socket_; }

  // The command letters received so far, in order.
  std::string letters() const {
    std::lock_guard lock(mutex_);
    return letters_;
  }
  std::vector<std::vector<uint8_t>> datagrams() const {
    std::lock_guard lock(mutex_);
    return datagrams_;
  }
  // Waits up to timeoutMs for at least count datagrams.
  bool WaitForCount(size_t count, int timeoutMs = 2000) const {
    for (int waited = 0; waited < timeoutMs; waited += 5) {
      if (datagrams().size() >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return datagrams().size() >= count;
  }

 private:
  void Run() {
    std::vector<uint8_t> buffer(65536);
    while (true) {
      const ReceiveResult result = socket_.Receive(buffer);
      if (result.status == ReceiveResult::Status::kClosed) return;
      if (result.status != ReceiveResult::Status::kDatagram) continue;
      std::vector<uint8_t> datagram(buffer.begin(), buffer.begin() + result.size);
      {
        std::lock_guard lock(mutex_);
        letters_ += datagram.size() > 2 ? char(datagram[2]) : '?';
        datagrams_.push_back(datagram);
      }
      if (answer_) answer_(datagram, result.source, socket_);
    }
  }

  Answer answer_;
  UdpSocket socket_;
  mutable std::mutex mutex_;
  std::string letters_;
  std::vector<std::vector<uint8_t>> datagrams_;
  std::thread thread_;
};

}  // namespace halvyn::testing
