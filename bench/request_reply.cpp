// Request/reply: clients send a request and the server answers each one
// ("p" naming the sender comes back as the forward; the echo echoes; STUN
// answers a binding request). Phases: latency at a moderate open-loop rate,
// capacity in a closed loop with a window per socket, overload in an open
// loop at a multiple of the capacity just measured. Each line names its
// shape (client sockets x window); with a console port, a page reads the
// console's event stream throughout.
#include <array>
#include <iostream>
#include <optional>

#include "bench/event_stream.h"
#include "bench/latency_samples.h"
#include "bench/measurement.h"
#include "bench/scenario.h"

namespace halvyn::bench {

namespace {

constexpr int kMaxBatch = 16;
constexpr uint64_t kStallNs = 100'000'000;  // a socket silent this long lost its requests
constexpr int kDrainMs = 2000;              // at most: the wait ends when every reply is in

struct PhaseCounts {
  uint64_t sent = 0;
  uint64_t received = 0;  // valid replies of this phase
  uint64_t bad = 0;       // datagrams that are no valid reply
};

class RequestReplyLoad {
 public:
  RequestReplyLoad(const ScenarioOptions& options, ClientSet& clients)
      : options_(options),
        clients_(clients),
        server_{NetworkAddress(127, 0, 0, 1), options.port},
        outstanding_(clients.size()),
        lastProgress_(clients.size()) {
    for (size_t i = 0; i < clients.size(); ++i) names_.push_back(ClientName("r", i));
  }

  // Sends count requests on client i; returns how many went.
  int Send(size_t i, int count, uint8_t phase) {
    count = std::min(count, kMaxBatch);
    const uint64_t now = NowNs();
    std::array<OutgoingDatagram, kMaxBatch> batch;
    for (int k = 0; k < count; ++k) {
      uint8_t* out = scratch_[size_t(k)].data();
      const size_t size =
          WriteRequest(options_.target, out, names_[i], {now, MakeTag(phase, sequence_++)});
      batch[size_t(k)] = {std::span<const uint8_t>(out, size), server_};
    }
    const int sent = int(SendEach(clients_.socket(i), std::span(batch).first(size_t(count)), true));
    counts_.sent += uint64_t(sent);
    outstanding_[i] += sent;
    return sent;
  }

  void Receive(int timeoutMs, uint8_t phase) {
    clients_.Poll(timeoutMs, [&](size_t i, std::span<uint8_t> bytes, size_t length) {
      const auto stamp = ReadReply(options_.target, bytes, length, names_[i]);
      if (!stamp) {
        ++counts_.bad;
        return;
      }
      if (stamp->phase() != phase) return;  // a late reply of an earlier phase
      const uint64_t now = NowNs();
      ++counts_.received;
      latency_.Add(now - stamp->sentNs);
      if (outstanding_[i] > 0) --outstanding_[i];
      lastProgress_[i] = now;
      touched_.push_back(i);
    });
  }

  void Reset() {
    counts_ = {};
    latency_.Clear();
    std::fill(outstanding_.begin(), outstanding_.end(), 0);
    std::fill(lastProgress_.begin(), lastProgress_.end(), NowNs());
    touched_.clear();
  }

  // Closed loop: every socket keeps window requests in flight.
  void RunClosed(uint8_t phase, uint64_t endNs) {
    const int window = options_.window;
    for (size_t i = 0; i < clients_.size(); ++i) Send(i, window, phase);
    uint64_t nextStallCheck = NowNs() + kStallNs / 4;
    while (NowNs() < endNs) {
      touched_.clear();
      Receive(1, phase);
      for (size_t i : touched_) {
        if (outstanding_[i] < window) Send(i, window - outstanding_[i], phase);
      }
      const uint64_t now = NowNs();
      if (now >= nextStallCheck) {
        for (size_t i = 0; i < clients_.size(); ++i) {
          if (outstanding_[i] >= window && now - lastProgress_[i] > kStallNs) {
            outstanding_[i] = 0;
            lastProgress_[i] = now;
            Send(i, window, phase);
          }
        }
        nextStallCheck = now + kStallNs / 4;
      }
    }
  }

  // Open loop: requests leave at rate per second, spread over the sockets.
  void RunOpen(uint8_t phase, uint64_t startNs, uint64_t endNs, double rate) {
    size_t next = 0;
    uint64_t sentHere = 0;
    for (uint64_t now = NowNs(); now < endNs; now = NowNs()) {
      const auto due = uint64_t(rate * double(now - startNs) / 1e9);
      int budget = int(std::min<uint64_t>(due > sentHere ? due - sentHere : 0, 512));
      while (budget > 0) {
        const int sent = Send(next, std::min(budget, 4), phase);
        next = (next + 1) % clients_.size();
        sentHere += uint64_t(std::max(sent, 1));
        budget -= std::max(sent, 1);
      }
      Receive(0, phase);
    }
  }

  // Waits for the replies still due: until every request is answered, no
  // reply came for 100 ms, or kDrainMs passed.
  void DrainReplies(uint8_t phase) {
    const uint64_t end = NowNs() + uint64_t(kDrainMs) * 1000000;
    uint64_t quietSince = NowNs();
    while (counts_.received < counts_.sent && NowNs() < end && NowNs() - quietSince < 100'000'000) {
      const uint64_t before = counts_.received;
      Receive(5, phase);
      if (counts_.received != before) quietSince = NowNs();
    }
  }

  const PhaseCounts& counts() const { return counts_; }
  LatencySamples& latency() { return latency_; }

 private:
  const ScenarioOptions& options_;
  ClientSet& clients_;
  Ipv4Endpoint server_;
  std::vector<std::string> names_;
  std::vector<int> outstanding_;
  std::vector<uint64_t> lastProgress_;
  std::vector<size_t> touched_;
  std::array<std::array<uint8_t, kMaxRequestSize>, kMaxBatch> scratch_{};
  uint32_t sequence_ = 0;
  PhaseCounts counts_;
  LatencySamples latency_;
};

struct PhaseFigures {
  double servedPerCpuS = 0;
  double servedPerS = 0;
};

// Runs one phase: open at rate (closed when rate is 0); prints its line.
PhaseFigures RunPhase(RequestReplyLoad& load, const ScenarioOptions& options,
                      const ServerProbe& probe, const char* name, uint8_t phase, double rate) {
  load.Reset();
  const ServerProbe::Reading start = probe.Read();
  const uint64_t end = start.wallNs + uint64_t(options.seconds * 1e9);
  if (rate > 0)
    load.RunOpen(phase, start.wallNs, end, rate);
  else
    load.RunClosed(phase, end);
  const ServerProbe::Reading stop = probe.Read();
  const uint64_t servedInWindow = load.counts().received;
  const uint64_t sentInWindow = load.counts().sent;
  load.DrainReplies(phase);
  probe.WaitQueueEmpty(500);
  const PhaseCounts& counts = load.counts();

  const double wallS = double(stop.wallNs - start.wallNs) / 1e9;
  const double cpuS = double(stop.cpuNs - start.cpuNs) / 1e9;
  PhaseFigures figures;
  figures.servedPerS = double(servedInWindow) / wallS;
  figures.servedPerCpuS = cpuS > 0 ? double(servedInWindow) / cpuS : 0;
  ResultLine line("rr", options.label, name);
  line.Add("shape", std::to_string(options.clients) + "x" + std::to_string(options.window))
      .Add("clients", double(options.clients))
      .Add("offered_per_s", double(sentInWindow) / wallS)
      .Add("served", double(servedInWindow))
      .Add("served_per_s", figures.servedPerS)
      .Add("served_per_cpu_s", figures.servedPerCpuS)
      .Add("cpu_util", cpuS / wallS)
      .Add("p50_us", load.latency().PercentileUs(50))
      .Add("p99_us", load.latency().PercentileUs(99))
      .Add("sent", double(counts.sent))
      .Add("lost", double(counts.sent - std::min(counts.sent, counts.received)))
      .Add("bad", double(counts.bad))
      .Add("server_drops", double(stop.socket.drops - start.socket.drops))
      .Add("rss_kib", double(ResidentKib(probe.pid())))
      .Add("hwm_kib", double(PeakResidentKib(probe.pid())))
      .Print();
  return figures;
}

}  // namespace

int RunRequestReply(const ScenarioOptions& options) {
  ClientSet clients(options.clients, 256);
  if (!clients.ok()) return CheckFailed("cannot open the client sockets");
  const Ipv4Endpoint server{NetworkAddress(127, 0, 0, 1), options.port};
  if (options.target == Target::kHalvyn && !LogInAll(clients, "r", server))
    return CheckFailed("a client's login was not confirmed");
  const ServerProbe probe(options.serverPid, options.port);
  RequestReplyLoad load(options, clients);
  std::optional<EventStream> page;
  if (options.consolePort != 0) {
    page.emplace(options.consolePort, EventStream::Keep::kCount);
    if (!page->WaitFor("", 0, 5000)) return CheckFailed("the console's event stream is silent");
  }

  RunPhase(load, options, probe, "latency", 1, options.moderateRate);
  if (options.check) {
    const PhaseCounts& c = load.counts();
    if (c.bad != 0 || c.received == 0 || c.received != c.sent)
      return CheckFailed("request/reply at a moderate rate: sent " + std::to_string(c.sent) +
                         ", valid replies " + std::to_string(c.received) + ", bad " +
                         std::to_string(c.bad));
  }
  const PhaseFigures capacity = RunPhase(load, options, probe, "capacity", 2, 0);
  if (options.check && (load.counts().bad != 0 || load.counts().received == 0))
    return CheckFailed("request/reply closed loop: bad or no replies");
  RunPhase(load, options, probe, "overload", 3,
           options.overloadFactor * std::max(capacity.servedPerCpuS, capacity.servedPerS));
  if (options.check && load.counts().bad != 0)
    return CheckFailed("request/reply overload: bad replies");
  return 0;
}

int CheckFailed(const std::string& what) {
  std::cerr << "check FAILED: " << what << std::endl;
  return 1;
}

}  // namespace halvyn::bench
