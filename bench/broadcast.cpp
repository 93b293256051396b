// List broadcast: N receivers are logged in (registered with the fan-out
// baseline) and a trigger socket makes the server send one N x 120-byte
// datagram to every receiver: for Halvyn a login under a present name, which
// sends the whole "h" list to everyone. A trigger is complete when the last
// receiver in table order has its copy. Bytes sent counts every copy that
// reached a receiver or was dropped at its full socket. Latency is that of a
// stamped probe sent every 2 ms from the trigger socket and queued behind the
// triggers: for Halvyn a "p" naming the first receiver, which forwards it
// there; the fan-out baseline echoes it.
// Phases: check (a low rate, with --check), capacity (closed loop, a window of
// triggers), overload (open loop at a multiple of the capacity).
#include "bench/latency_samples.h"
#include "bench/measurement.h"
#include "bench/scenario.h"
#include "relay/client_record.h"
#include "relay/relay_client_codec.h"
#include "relay/relay_packet.h"

namespace halvyn::bench {

namespace {

constexpr uint64_t kStallNs = 300'000'000;
constexpr uint64_t kProbeIntervalNs = 2'000'000;

class BroadcastLoad {
 public:
  BroadcastLoad(const ScenarioOptions& options, ClientSet& receivers, ClientSet& trigger)
      : options_(options),
        receivers_(receivers),
        trigger_(trigger),
        server_{NetworkAddress(127, 0, 0, 1), options.port},
        listSize_(receivers.size() * relay_packet::kRecordFormSize),
        perReceiver_(receivers.size()) {
    if (options.target == Target::kHalvyn)
      WriteRecordForm(triggerBytes_, relay_packet::kLogin, ClientName("b", 0));
    else
      triggerBytes_[0] = 'T';
  }

  // Sends a stamped probe when one is due.
  void MaybeProbe(uint8_t phase) {
    const uint64_t now = NowNs();
    if (now < nextProbeNs_) return;
    nextProbeNs_ = now + kProbeIntervalNs;
    uint8_t probe[kMaxRequestSize];
    const Target kind = options_.target == Target::kHalvyn ? Target::kHalvyn : Target::kEcho;
    const size_t size = WriteRequest(kind, probe, ClientName("b", 0), {now, MakeTag(phase, 0)});
    if (kind == Target::kEcho) probe[0] = 'P';
    trigger_.socket(0).SendTo(std::span<const uint8_t>(probe, size), server_);
  }

  size_t listSize() const { return listSize_; }

  void SendTriggers(int count) {
    for (int k = 0; k < count; ++k) triggers_ += trigger_.socket(0).SendTo(triggerBytes_, server_);
  }

  // Reads what the receivers and the trigger socket got; returns how many
  // triggers completed.
  int Receive(int timeoutMs, uint8_t phase) {
    int completed = 0;
    auto probeAnswer = [&](std::span<uint8_t> bytes, size_t length) {
      const Target kind = options_.target == Target::kHalvyn ? Target::kHalvyn : Target::kEcho;
      const auto stamp = ReadReply(kind, bytes, length, ClientName("b", 0));
      if (stamp && stamp->phase() == phase) latency_.Add(NowNs() - stamp->sentNs);
      return stamp.has_value();
    };
    receivers_.Poll(timeoutMs, [&](size_t i, std::span<uint8_t> bytes, size_t length) {
      if (i == 0 && length != listSize_ && probeAnswer(bytes, length)) return;
      if (length != listSize_ || (options_.check && !ValidList(bytes))) {
        ++bad_;
        return;
      }
      ++lists_;
      ++perReceiver_[i];
      if (i + 1 == receivers_.size()) ++completed;
    });
    trigger_.Poll(0, [&](size_t, std::span<uint8_t> bytes, size_t length) {
      if (!probeAnswer(bytes, length)) ++bad_;
    });
    return completed;
  }

  void Reset() {
    triggers_ = lists_ = bad_ = 0;
    latency_.Clear();
    std::fill(perReceiver_.begin(), perReceiver_.end(), 0);
  }

  void RunClosed(uint8_t phase, uint64_t endNs) {
    int outstanding = options_.window;
    SendTriggers(outstanding);
    uint64_t lastProgress = NowNs();
    while (NowNs() < endNs) {
      MaybeProbe(phase);
      const int completed = Receive(1, phase);
      const uint64_t now = NowNs();
      if (completed > 0) {
        lastProgress = now;
        outstanding = std::max(0, outstanding - completed);
      } else if (now - lastProgress > kStallNs) {
        outstanding = 0;  // a copy to the last receiver was lost
        lastProgress = now;
      }
      if (outstanding < options_.window) {
        SendTriggers(options_.window - outstanding);
        outstanding = options_.window;
      }
    }
  }

  void RunOpen(uint8_t phase, uint64_t startNs, uint64_t endNs, double rate) {
    uint64_t sentHere = 0;
    for (uint64_t now = NowNs(); now < endNs; now = NowNs()) {
      MaybeProbe(phase);
      const auto due = uint64_t(rate * double(now - startNs) / 1e9);
      if (due > sentHere) {
        const int n = int(std::min<uint64_t>(due - sentHere, 64));
        SendTriggers(n);
        sentHere += uint64_t(n);
      }
      Receive(0, phase);
    }
  }

  // Reads until the receivers have been quiet for 30 ms (at most 3 s).
  void DrainLists(uint8_t phase) {
    const uint64_t end = NowNs() + 3'000'000'000;
    uint64_t quietSince = NowNs();
    while (NowNs() < end && NowNs() - quietSince < 30'000'000) {
      const uint64_t before = lists_ + bad_;
      Receive(5, phase);
      if (lists_ + bad_ != before) quietSince = NowNs();
    }
  }

  uint64_t triggers() const { return triggers_; }
  uint64_t lists() const { return lists_; }
  uint64_t bad() const { return bad_; }
  const std::vector<uint64_t>& perReceiver() const { return perReceiver_; }
  LatencySamples& latency() { return latency_; }

 private:
  // Halvyn's "h" list: every block "pr" "h" count, block k naming receiver k.
  bool ValidList(std::span<const uint8_t> bytes) const {
    if (options_.target != Target::kHalvyn) return true;
    if (bytes.size() != listSize_) return false;
    const ClientListView list(bytes);
    if (!list.WellFormed()) return false;
    for (size_t k = 0; k < list.size(); ++k)
      if (list.record(k).name() != ClientName("b", k)) return false;
    return true;
  }

  const ScenarioOptions& options_;
  ClientSet& receivers_;
  ClientSet& trigger_;
  Ipv4Endpoint server_;
  size_t listSize_;
  uint8_t triggerBytes_[relay_packet::kRecordFormSize] = {};
  uint64_t nextProbeNs_ = 0;
  uint64_t triggers_ = 0;
  uint64_t lists_ = 0;
  uint64_t bad_ = 0;
  std::vector<uint64_t> perReceiver_;
  LatencySamples latency_;
};

struct BroadcastFigures {
  uint64_t triggers = 0;
  uint64_t delivered = 0;  // copies received or dropped at a receiver
  uint64_t receiverDrops = 0;
  double triggersPerCpuS = 0;
};

BroadcastFigures RunBroadcastPhase(BroadcastLoad& load, const ScenarioOptions& options,
                                   const ClientSet& receivers, const ServerProbe& probe,
                                   const char* name, uint8_t phase, double seconds, double rate) {
  auto receiverDrops = [&] {
    return ReadUdpSockets([&](uint16_t port) { return receivers.OwnsPort(port); }).drops;
  };
  load.Reset();
  const uint64_t dropsBefore = receiverDrops();
  const ServerProbe::Reading start = probe.Read();
  const uint64_t end = start.wallNs + uint64_t(seconds * 1e9);
  if (rate > 0)
    load.RunOpen(phase, start.wallNs, end, rate);
  else
    load.RunClosed(phase, end);
  const uint64_t sendingNs = NowNs() - start.wallNs;
  probe.WaitQueueEmpty(3000);
  load.DrainLists(phase);
  const ServerProbe::Reading stop = probe.Read();

  BroadcastFigures figures;
  figures.triggers = load.triggers();
  figures.receiverDrops = receiverDrops() - dropsBefore;
  figures.delivered = load.lists() + figures.receiverDrops;
  const double wallS = double(stop.wallNs - start.wallNs) / 1e9;
  const double cpuS = double(stop.cpuNs - start.cpuNs) / 1e9;
  const double bytes = double(figures.delivered) * double(load.listSize());
  const double lists = double(figures.delivered) / double(receivers.size());
  figures.triggersPerCpuS = cpuS > 0 ? lists / cpuS : 0;
  ResultLine line("broadcast", options.label, name);
  line.Add("clients", double(receivers.size()))
      .Add("offered_per_s", double(load.triggers()) / (double(sendingNs) / 1e9))
      .Add("lists_per_s", lists / wallS)
      .Add("lists_per_cpu_s", figures.triggersPerCpuS)
      .Add("bytes_per_s", bytes / wallS)
      .Add("bytes_per_cpu_s", cpuS > 0 ? bytes / cpuS : 0)
      .Add("cpu_util", cpuS / wallS)
      .Add("p50_us", load.latency().PercentileUs(50))
      .Add("p99_us", load.latency().PercentileUs(99))
      .Add("triggers", double(load.triggers()))
      .Add("copies", double(load.lists()))
      .Add("receiver_drops", double(figures.receiverDrops))
      .Add("bad", double(load.bad()))
      .Add("server_drops", double(stop.socket.drops - start.socket.drops))
      .Add("rss_kib", double(ResidentKib(probe.pid())))
      .Add("hwm_kib", double(PeakResidentKib(probe.pid())))
      .Print();
  return figures;
}

}  // namespace

int RunBroadcast(const ScenarioOptions& options) {
  const size_t listSize = options.clients * relay_packet::kRecordFormSize;
  // Copies are read whole only when they are checked; otherwise the first
  // bytes are enough, which keeps the receivers cheap.
  ClientSet receivers(options.clients, options.check ? listSize : kMaxRequestSize);
  ClientSet trigger(1, 128);
  if (!receivers.ok() || !trigger.ok()) return CheckFailed("cannot open the client sockets");
  const Ipv4Endpoint server{NetworkAddress(127, 0, 0, 1), options.port};
  if (options.target == Target::kHalvyn) {
    if (!LogInAll(receivers, "b", server))
      return CheckFailed("a receiver's login was not confirmed");
  } else if (!RegisterAll(receivers, server)) {
    return CheckFailed("a receiver's registration was not answered");
  }
  const ServerProbe probe(options.serverPid, options.port);
  BroadcastLoad load(options, receivers, trigger);

  if (options.check) {
    const BroadcastFigures low =
        RunBroadcastPhase(load, options, receivers, probe, "check", 1, options.seconds, 20);
    bool even = true;
    for (uint64_t copies : load.perReceiver()) even = even && copies == low.triggers;
    if (low.triggers == 0 || load.bad() != 0 || low.receiverDrops != 0 || !even)
      return CheckFailed("broadcast at a low rate: triggers " + std::to_string(low.triggers) +
                         ", copies " + std::to_string(load.lists()) + ", bad " +
                         std::to_string(load.bad()) + ", receiver drops " +
                         std::to_string(low.receiverDrops));
  }
  const BroadcastFigures capacity =
      RunBroadcastPhase(load, options, receivers, probe, "capacity", 2, options.seconds, 0);
  RunBroadcastPhase(load, options, receivers, probe, "overload", 3, options.seconds,
                    options.overloadFactor * capacity.triggersPerCpuS);
  if (options.check && load.bad() != 0) return CheckFailed("broadcast: malformed copies");
  return 0;
}

}  // namespace halvyn::bench
