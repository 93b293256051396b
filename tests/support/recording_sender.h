// A DatagramSender that records what would have been sent.
#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "platform/datagram_sender.h"

namespace halvyn::testing {

struct SentDatagram {
  std::vector<uint8_t> bytes;
  Ipv4Endpoint destination;
};

class RecordingSender final : public DatagramSender {
 public:
  bool SendTo(std::span<const uint8_t> datagram, Ipv4Endpoint destination) const override {
    std::lock_guard lock(mutex_);
    sent_.push_back({{datagram.begin(), datagram.end()}, destination});
    return true;
  }
  // What was sent so far.
  std::vector<SentDatagram> Sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  // What was sent so far; forgets it.
  std::vector<SentDatagram> Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(sent_, {});
  }

 private:
  mutable std::mutex mutex_;
  mutable std::vector<SentDatagram> sent_;
};

}  // namespace halvyn::testing
