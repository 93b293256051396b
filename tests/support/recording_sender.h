// A DatagramSender that records what would have been sent. Any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/datagram_sender.h"
#include "tests/support/event_log.h"

namespace halvyn::testing {

struct SentDatagram {
  std::vector<uint8_t> bytes;
  Ipv4Endpoint destination;
};

class RecordingSender final : public DatagramSender {
 public:
  RecordingSender() = default;
  // Each send is also added to log as "send X", X being the datagram's third
  // byte (the relay protocol's letter), so its order among other events shows.
  explicit RecordingSender(EventLog& log) : log_(&log) {}

  bool SendTo(std::span<const uint8_t> datagram, Ipv4Endpoint destination) const override {
    {
      std::lock_guard lock(mutex_);
      sent_.push_back({{datagram.begin(), datagram.end()}, destination});
    }
    if (log_) log_->Add(std::string("send ") + (datagram.size() > 2 ? char(datagram[2]) : '?'));
    return succeeds_;
  }

  // From now on every send is recorded but reported as failed.
  void FailEverySend() { succeeds_ = false; }

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
  EventLog* const log_ = nullptr;
  std::atomic<bool> succeeds_ = true;
  mutable std::mutex mutex_;
  mutable std::vector<SentDatagram> sent_;
};

}  // namespace halvyn::testing
