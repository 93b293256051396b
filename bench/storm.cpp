// Login storm: N clients, each a host of its own on the veth topology
// (topology.h), log in one after the other, each as soon as the one before it
// has its "g"; each keeps alive every 5 s once in. Measured: the bytes the server sends meanwhile
// (its halvyn_relay_bytes_sent_total on /metrics, and the bytes the clients receive), how long the
// logins take, and the time from the last "g" until every client's latest list holds all N names.
// The script runs it over the plain veth and over the veth shaped to 1 Gbit/s.
#include <algorithm>

#include "bench/measurement.h"
#include "bench/scenario.h"
#include "bench/server_side.h"
#include "bench/topology.h"
#include "relay/relay_packet.h"

namespace halvyn::bench {

int RunStorm(const ScenarioOptions& options) {
  using namespace relay_packet;
  const size_t n = options.clients;
  const Ipv4Endpoint server{TopologyServer(), options.port};
  Console console(options.serverPid, options.consolePort);
  // Each host has a receive buffer of its own; one process stands in for
  // all of them, so each socket gets room for a few full lists.
  ClientSet clients(n, 128, TopologyClient, 512 << 10);
  if (!clients.ok()) return CheckFailed("cannot open the client sockets");
  const std::optional<double> bytes0 = console.Metric("halvyn_relay_bytes_sent_total");
  const std::optional<double> failures0 = console.Metric("halvyn_relay_send_failures_total");

  std::vector<size_t> latestList(n, 0);  // records in each client's latest list
  std::vector<bool> accepted(n, false);
  uint64_t bytesReceived = 0, listsReceived = 0;
  // Clients that are in keep alive every 5 s, as devices do (the server drops
  // a client silent for 24.6 s, and a storm over a slow link takes longer).
  std::vector<uint64_t> nextKeepAlive(n, 0);
  size_t loggedIn = 0;
  auto keepAlive = [&] {
    const uint64_t now = NowNs();
    uint8_t k[kRecordFormSize];
    for (size_t i = 0; i < loggedIn; ++i) {
      if (now < nextKeepAlive[i]) continue;
      WriteRecordForm(k, kKeepAlive, ClientName("s", i));
      clients.socket(i).SendTo(k, server);
      nextKeepAlive[i] = now + 5'000'000'000;
    }
  };
  auto poll = [&](int timeoutMs) {
    keepAlive();
    clients.Poll(timeoutMs, [&](size_t i, std::span<uint8_t> bytes, size_t length) {
      bytesReceived += length;
      if (length < kRecordFormSize) return;
      if (bytes[kCommandOffset] == kClientList) {
        latestList[i] = length / kRecordFormSize;
        ++listsReceived;
      } else if (bytes[kCommandOffset] == kLoginAccepted) {
        accepted[i] = true;
      }
    });
  };

  const uint64_t start = NowNs();
  const uint64_t giveUp = start + uint64_t(options.patience * 1e9);
  uint8_t e[kRecordFormSize];
  for (; loggedIn < n && NowNs() < giveUp; ++loggedIn) {
    WriteRecordForm(e, kLogin, ClientName("s", loggedIn));
    nextKeepAlive[loggedIn] = NowNs() + 5'000'000'000;
    uint64_t sentAt = 0;
    while (!accepted[loggedIn] && NowNs() < giveUp) {
      // Sent once: a second "e" under the name would itself be a relogin that
      // sends every client the list. Only one lost at the server's full socket
      // (nothing else is sent meanwhile, so hardly ever) is sent again, after 10 s.
      if (NowNs() - sentAt >= 10'000'000'000) {
        clients.socket(loggedIn).SendTo(e, server);
        sentAt = NowNs();
      }
      poll(1);
    }
    if (!accepted[loggedIn]) break;
  }
  const uint64_t lastG = NowNs();
  auto full = [&] { return size_t(std::count(latestList.begin(), latestList.end(), n)); };
  while (full() < n && NowNs() < giveUp) poll(5);
  const uint64_t allFull = NowNs();
  const size_t holding = full();
  // Whatever the server still sends (lists queued behind the last one) is counted too.
  for (uint64_t quietFrom = NowNs(); NowNs() - quietFrom < 300'000'000 && NowNs() < giveUp;)
    if (clients.Poll(10,
                     [&](size_t, std::span<uint8_t>, size_t length) { bytesReceived += length; }))
      quietFrom = NowNs();
  const std::optional<double> bytes1 = console.Metric("halvyn_relay_bytes_sent_total");
  const std::optional<double> failures1 = console.Metric("halvyn_relay_send_failures_total");

  ResultLine line("storm", options.label, "storm" + options.phaseSuffix);
  line.Add("clients", double(n))
      .Add("logged_in", double(loggedIn))
      .Add("logins_s", double(lastG - start) / 1e9)
      .Add("full_list_after_s", holding == n ? double(allFull - lastG) / 1e9 : -1)
      .Add("clients_full", double(holding))
      .Add("bytes_sent", bytes0 && bytes1 ? *bytes1 - *bytes0 : -1)
      .Add("send_failures", failures0 && failures1 ? *failures1 - *failures0 : -1)
      .Add("bytes_received", double(bytesReceived))
      .Add("lists_received", double(listsReceived))
      .Print();
  if (options.check && (loggedIn != n || holding != n || !bytes0))
    return CheckFailed("storm: " + std::to_string(loggedIn) + " of " + std::to_string(n) +
                       " logged in, " + std::to_string(holding) + " hold the full list");
  return 0;
}

}  // namespace halvyn::bench
