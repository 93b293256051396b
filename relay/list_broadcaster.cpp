#include "relay/list_broadcaster.h"

#include <algorithm>
#include <chrono>
#include <mutex>

namespace halvyn {

namespace {

// Milliseconds from now until `at`, 0 when it has passed (ticks compared by
// their unsigned difference, so the wrap does no harm).
int MsUntil(uint32_t now, uint32_t at) {
  const uint32_t ahead = at - now;
  return ahead > 0x7FFFFFFFu ? 0 : int(ahead);
}

}  // namespace

ListBroadcaster::ListBroadcaster(const ClientTable& table, const DatagramSender& socket,
                                 DestinationLimiter* limiter, const TickClock& clock,
                                 uint64_t bytesPerSecond, RelayCounters& counters)
    : table_(table),
      socket_(socket),
      limiter_(limiter),
      clock_(clock),
      bytesPerSecond_(bytesPerSecond),
      counters_(counters) {}

bool ListBroadcaster::Allowed(uint32_t now) const {
  return !anySent_ || bytesPerSecond_ == 0 || MsUntil(now, nextAllowed_) == 0;
}

void ListBroadcaster::Request() {
  {
    MutexLock lock(mutex_);
    if (sending_ || !Allowed(clock_.Now())) {
      if (!pending_) {
        pending_ = true;
      } else {
        counters_.listsMerged.Add();
      }
      wake_.notify_one();
      return;
    }
    sending_ = true;
    pending_ = false;
  }
  std::vector<Ipv4Endpoint> held;
  const uint64_t bytes = SendList(nullptr, held);
  MutexLock lock(mutex_);
  FinishSending(clock_.Now(), bytes, held);
}

void ListBroadcaster::FinishSending(uint32_t now, uint64_t bytes, std::vector<Ipv4Endpoint>& held) {
  sending_ = false;
  anySent_ = true;
  const uint64_t ms = bytesPerSecond_ == 0 ? 0 : bytes * 1000 / bytesPerSecond_;
  nextAllowed_ = now + uint32_t(std::min<uint64_t>(ms, 0x7FFFFFFF));
  // Every owed client now waits for this list (or a later one) only.
  for (const Ipv4Endpoint& endpoint : held)
    if (std::find(owed_.begin(), owed_.end(), endpoint) == owed_.end()) owed_.push_back(endpoint);
  if (!owed_.empty() && held.size() == owed_.size()) nextRetry_ = now + kOwedListRetryMs;
  if (pending_ || !owed_.empty()) wake_.notify_one();
}

uint64_t ListBroadcaster::SendList(const std::vector<Ipv4Endpoint>* only,
                                   std::vector<Ipv4Endpoint>& held) {
  thread_local std::vector<uint8_t> datagram;
  thread_local std::vector<Ipv4Endpoint> destinations;
  thread_local std::vector<Ipv4Endpoint> allowed;
  table_.BuildClientList(datagram, destinations);
  if (only) {
    std::erase_if(destinations, [&](const Ipv4Endpoint& endpoint) {
      return std::find(only->begin(), only->end(), endpoint) == only->end();
    });
  }
  allowed.clear();
  for (const Ipv4Endpoint& destination : destinations) {
    if (!limiter_ || limiter_->Allow(destination, datagram.size())) {
      allowed.push_back(destination);
    } else {
      held.push_back(destination);
    }
  }
  // In table order, many per system call; no retries in this protocol: a
  // failed send is only counted.
  counters_.Broadcast(socket_.SendToEach(datagram, allowed), allowed.size(), datagram.size());
  return uint64_t(datagram.size()) * destinations.size();
}

int ListBroadcaster::SendDue() {
  std::vector<Ipv4Endpoint> owed;
  bool full = false;
  {
    MutexLock lock(mutex_);
    if (sending_) return -1;  // the sender wakes the pacer when it is done
    const uint32_t now = clock_.Now();
    if (pending_ && Allowed(now)) {
      full = true;
      pending_ = false;
      owed_.clear();  // the full list reaches them too
    } else if (!owed_.empty() && MsUntil(now, nextRetry_) == 0) {
      owed.swap(owed_);
    } else {
      int wait = -1;
      if (pending_) wait = std::max(1, MsUntil(now, nextAllowed_));
      if (!owed_.empty()) {
        const int retry = std::max(1, MsUntil(now, nextRetry_));
        wait = wait < 0 ? retry : std::min(wait, retry);
      }
      return wait;
    }
    sending_ = true;
  }
  std::vector<Ipv4Endpoint> held;
  const uint64_t bytes = SendList(full ? nullptr : &owed, held);
  MutexLock lock(mutex_);
  const uint32_t now = clock_.Now();
  if (full) {
    FinishSending(now, bytes, held);
  } else {
    sending_ = false;
    owed_.insert(owed_.end(), held.begin(), held.end());
    nextRetry_ = now + kOwedListRetryMs;
  }
  return 0;
}

void ListBroadcaster::WaitForWork(int waitMs) {
  std::unique_lock<std::mutex> native(mutex_.native(), std::adopt_lock);
  if (waitMs < 0) {
    wake_.wait(native);
  } else {
    wake_.wait_for(native, std::chrono::milliseconds(waitMs));
  }
  native.release();  // the caller's MutexLock unlocks it
}

void ListBroadcaster::RunPacer() {
  for (;;) {
    const int wait = SendDue();
    MutexLock lock(mutex_);
    if (stopped_) return;
    if (wait == 0) continue;
    // A request or a finished send may have come between SendDue and here.
    const uint32_t now = clock_.Now();
    const bool due =
        (pending_ && Allowed(now)) || (!owed_.empty() && MsUntil(now, nextRetry_) == 0);
    if (!sending_ && (due || (wait < 0 && (pending_ || !owed_.empty())))) continue;
    WaitForWork(wait);
    if (stopped_) return;
  }
}

void ListBroadcaster::Stop() {
  MutexLock lock(mutex_);
  stopped_ = true;
  wake_.notify_all();
}

bool ListBroadcaster::pending() const {
  MutexLock lock(mutex_);
  return pending_;
}

}  // namespace halvyn
