// Keep-alive intake: logged-in clients send "k" (the drain gets the same
// bytes) and nothing comes back. What the server handled is what was sent
// less what its socket dropped; the phase ends when its queue is empty.
// Phases: check (a low rate, only with --check), capacity (as fast as the
// load generator sends), overload (a multiple of the capacity, open loop);
// or, with --rates, one open-loop phase per offered rate ("open-50k"), sent
// from --senders sockets while every client stays logged in.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "bench/measurement.h"
#include "bench/scenario.h"
#include "relay/relay_packet.h"

namespace halvyn::bench {

namespace {

constexpr size_t kBatch = 8;
// Open-loop phases at a given rate send up to this many per system call, so
// that one socket on the load generator's core can offer 400 k/s.
constexpr size_t kOpenBatch = 32;

struct IntakeFigures {
  uint64_t sent = 0;
  uint64_t handled = 0;
  uint64_t dropped = 0;
  double handledPerCpuS = 0;
};

IntakeFigures RunIntakePhase(const ScenarioOptions& options, ClientSet& clients,
                             const std::vector<std::array<uint8_t, 120>>& keepAlives,
                             const ServerProbe& probe, const std::string& name, double seconds,
                             double rate, size_t senders = 0, size_t perCall = kBatch) {
  if (senders == 0 || senders > clients.size()) senders = clients.size();
  const Ipv4Endpoint server{NetworkAddress(127, 0, 0, 1), options.port};
  const ServerProbe::Reading start = probe.Read();
  const uint64_t end = start.wallNs + uint64_t(seconds * 1e9);
  uint64_t sent = 0;
  size_t next = 0;
  std::array<OutgoingDatagram, kOpenBatch> batch;
  for (uint64_t now = NowNs(); now < end; now = NowNs()) {
    // Small bursts: a burst larger than the server's socket buffer would only
    // measure drops.
    uint64_t budget = perCall * 8;
    if (rate > 0) {
      const auto due = uint64_t(rate * double(now - start.wallNs) / 1e9);
      budget = std::min<uint64_t>(due > sent ? due - sent : 0, budget);
    }
    while (budget > 0) {
      const size_t n = std::min<size_t>(perCall, budget);
      for (size_t k = 0; k < n; ++k) batch[k] = {keepAlives[next], server};
      const size_t went = SendEach(clients.socket(next), std::span(batch).first(n), true);
      sent += went;
      budget -= std::min<uint64_t>(std::max<size_t>(went, 1), budget);
      next = (next + 1) % senders;
    }
  }
  const uint64_t sendingNs = NowNs() - start.wallNs;
  const bool emptied = probe.WaitQueueEmpty(2000);
  const ServerProbe::Reading stop = probe.Read();

  IntakeFigures figures;
  figures.sent = sent;
  figures.dropped = stop.socket.drops - start.socket.drops;
  figures.handled = sent - std::min(sent, figures.dropped);
  const double wallS = double(stop.wallNs - start.wallNs) / 1e9;
  const double cpuS = double(stop.cpuNs - start.cpuNs) / 1e9;
  figures.handledPerCpuS = cpuS > 0 ? double(figures.handled) / cpuS : 0;
  ResultLine line("intake", options.label, name);
  line.Add("clients", double(clients.size())).Add("senders", double(senders));
  if (rate > 0) line.Add("rate", rate);
  line.Add("offered_per_s", double(sent) / (double(sendingNs) / 1e9))
      .Add("handled", double(figures.handled))
      .Add("handled_per_s", double(figures.handled) / wallS)
      .Add("handled_per_cpu_s", figures.handledPerCpuS)
      .Add("cost_ns",
           figures.handled ? double(stop.cpuNs - start.cpuNs) / double(figures.handled) : 0)
      .Add("cpu_util", cpuS / wallS)
      .Add("sent", double(sent))
      .Add("server_drops", double(figures.dropped))
      .Add("queue_emptied", emptied ? 1.0 : 0.0)
      .Add("rss_kib", double(ResidentKib(probe.pid())))
      .Add("hwm_kib", double(PeakResidentKib(probe.pid())))
      .Print();
  return figures;
}

}  // namespace

int RunIntake(const ScenarioOptions& options) {
  ClientSet clients(options.clients, 256);
  if (!clients.ok()) return CheckFailed("cannot open the client sockets");
  const Ipv4Endpoint server{NetworkAddress(127, 0, 0, 1), options.port};
  if (options.target == Target::kHalvyn && !LogInAll(clients, "k", server))
    return CheckFailed("a client's login was not confirmed");
  std::vector<std::array<uint8_t, 120>> keepAlives(clients.size());
  for (size_t i = 0; i < clients.size(); ++i)
    WriteRecordForm(keepAlives[i].data(), relay_packet::kKeepAlive, ClientName("k", i));
  const ServerProbe probe(options.serverPid, options.port);

  if (!options.rates.empty()) {
    for (const double rate : options.rates) {
      const std::string name = "open-" + std::to_string(std::lround(rate / 1000)) + "k";
      const IntakeFigures figures =
          RunIntakePhase(options, clients, keepAlives, probe, name, options.seconds, rate,
                         options.senders, kOpenBatch);
      if (options.check && (figures.sent == 0 || figures.dropped > figures.sent))
        return CheckFailed("keep-alive intake at " + name + ": sent " +
                           std::to_string(figures.sent) + ", dropped " +
                           std::to_string(figures.dropped));
    }
    return 0;
  }
  if (options.check) {
    const IntakeFigures low =
        RunIntakePhase(options, clients, keepAlives, probe, "check", options.seconds, 2000);
    if (low.sent == 0 || low.dropped != 0 || low.handled != low.sent)
      return CheckFailed("keep-alive intake at a low rate: sent " + std::to_string(low.sent) +
                         ", dropped " + std::to_string(low.dropped));
    // Nothing answers a keep-alive.
    if (clients.Drain(50, 500) != 0) return CheckFailed("a keep-alive was answered");
  }
  const IntakeFigures capacity =
      RunIntakePhase(options, clients, keepAlives, probe, "capacity", options.seconds, 0);
  RunIntakePhase(options, clients, keepAlives, probe, "overload", options.seconds,
                 options.overloadFactor * capacity.handledPerCpuS);
  return 0;
}

}  // namespace halvyn::bench
