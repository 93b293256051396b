// Memory and console: the server's resident memory idle and with N clients,
// 32 forward routes and a message log of logLines lines; with a console, the
// time to serve GET /api/window in that state and the delay from a login
// datagram to the event that carries its log line on a connected event
// stream.
#include <httplib.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "bench/console_pressure.h"
#include "bench/event_stream.h"
#include "bench/measurement.h"
#include "bench/scenario.h"
#include "relay/relay_packet.h"
#include "routes/route_packets.h"

namespace halvyn::bench {

namespace {

constexpr size_t kRoutes = 32;  // every route slot

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Asks for `count` one-channel routes, each from client 2k to client 2k+1,
// and completes each granted one with the Rx client's port probe to its slot
// port. Returns how many were granted.
size_t OpenRoutes(ClientSet& clients, Ipv4Endpoint server, size_t count) {
  const uint32_t loopback = NetworkAddress(127, 0, 0, 1);
  size_t granted = 0;
  for (size_t k = 0; k < count && 2 * k + 1 < clients.size(); ++k) {
    const size_t tx = 2 * k, rx = 2 * k + 1;
    CRouteInfo body;
    body.set_tx_ip(loopback);
    body.set_tx_port(clients.port(tx));
    body.set_tx_chan_count(1);
    body.set_rx_ip(loopback);
    body.set_rx_port(clients.port(rx));
    body.set_rx_chan_count(1);
    body.set_tx_name(ClientName("s", tx));
    body.set_rx_name(ClientName("s", rx));
    const Datagram request = BuildRouteRequest(ClientRecord{}, body);
    clients.socket(tx).SendTo(request, server);
    uint16_t slotPort = 0;
    const uint64_t deadline = NowNs() + 2'000'000'000;
    bool answered = false;
    while (!answered && NowNs() < deadline) {
      clients.Poll(10, [&](size_t i, std::span<uint8_t> bytes, size_t) {
        if (i != rx || bytes.size() != route_packet::kSize ||
            bytes[relay_packet::kCommandOffset] != 'v')
          return;
        answered = true;
        slotPort = RouteBodyOf(bytes)->tx_port();
      });
    }
    if (slotPort == 0) continue;
    ++granted;
    uint8_t probe[route_packet::kProbeMinSize] = {};
    WriteRecordForm(probe, route_packet::kProbe, ClientName("s", rx));
    clients.socket(rx).SendTo(probe, {loopback, slotPort});
  }
  return granted;
}

size_t LogLines(const nlohmann::json& window) {
  const std::string log = window.value("messageLog", std::string());
  return size_t(std::count(log.begin(), log.end(), '\n'));
}

}  // namespace

int RunState(const ScenarioOptions& options) {
  const Ipv4Endpoint server{NetworkAddress(127, 0, 0, 1), options.port};
  const ServerProbe probe(options.serverPid, options.port);
  ResultLine("state", options.label, "idle")
      .Add("rss_kib", double(ResidentKib(probe.pid())))
      .Print();

  // Hostile console connections from before the logins on, so the routes too
  // are granted (and their listeners opened) under them.
  std::optional<ConsolePressure> pressure;
  if (!options.consolePressure.empty() && options.consolePort != 0)
    pressure.emplace(options.consolePressure, options.consolePort);

  ClientSet clients(options.clients, route_packet::kSize);
  if (!clients.ok()) return CheckFailed("cannot open the client sockets");
  if (!LogInAll(clients, "s", server)) return CheckFailed("a client's login was not confirmed");
  const size_t routes = OpenRoutes(clients, server, kRoutes);
  if (options.check && routes != std::min(kRoutes, clients.size() / 2))
    return CheckFailed("only " + std::to_string(routes) + " routes were granted");

  // Each forwarded "p" adds one line to the log; a login added one already.
  const size_t forwards = options.logLines > clients.size() ? options.logLines - clients.size() : 0;
  size_t answered = 0;
  size_t sent = 0;
  uint8_t request[kMaxRequestSize];
  const std::string name = ClientName("s", 0);
  while (answered < forwards) {
    while (sent < forwards && sent - answered < 16) {
      const size_t size = WriteRequest(Target::kHalvyn, request, name, {NowNs(), uint32_t(sent)});
      if (clients.socket(0).SendTo(std::span<const uint8_t>(request, size), server)) ++sent;
    }
    const size_t got = clients.Poll(100, [&](size_t i, std::span<uint8_t> bytes, size_t length) {
      if (i == 0 && ReadReply(Target::kHalvyn, bytes, length, name)) ++answered;
    });
    if (got == 0 && sent - answered >= 16) sent = answered;  // a lost forward: send again
  }
  probe.WaitQueueEmpty(1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the window catches up
  ResultLine memory("state", options.label, "loaded");
  memory.Add("clients", double(clients.size()))
      .Add("routes", double(routes))
      .Add("log_lines_sent", double(clients.size() + forwards))
      .Add("rss_kib", double(ResidentKib(probe.pid())))
      .Add("hwm_kib", double(PeakResidentKib(probe.pid())));
  if (options.consolePort == 0) {
    memory.Print();
    return 0;
  }

  httplib::Client console("127.0.0.1", options.consolePort);
  console.set_read_timeout(10, 0);
  std::vector<double> getMs;
  size_t windowBytes = 0;
  nlohmann::json window;
  for (int i = 0; i < 21; ++i) {
    const uint64_t start = NowNs();
    auto response = console.Get("/api/window");
    const uint64_t end = NowNs();
    if (!response || response->status != 200) return CheckFailed("GET /api/window failed");
    getMs.push_back(double(end - start) / 1e6);
    windowBytes = response->body.size();
    if (i == 0) window = nlohmann::json::parse(response->body, nullptr, false);
  }
  const size_t lines = LogLines(window);
  const size_t listed = window.contains("remoteDevices") ? window["remoteDevices"].size() : 0;
  const size_t routeRows = window.contains("forwardRoutes") ? window["forwardRoutes"].size() : 0;
  memory.Add("log_lines", double(lines))
      .Add("listed", double(listed))
      .Add("route_rows", double(routeRows))
      .Print();
  if (options.check && (listed != clients.size() || lines < options.logLines ||
                        routeRows != std::min(kRoutes, clients.size() / 2)))
    return CheckFailed("the console shows " + std::to_string(listed) + " clients, " +
                       std::to_string(routeRows) + " routes and " + std::to_string(lines) +
                       " log lines");

  // Login to event: client 1 logs out and in again; the delay is from the
  // login datagram to the event that carries its login line.
  std::vector<double> eventMs;
  {
    EventStream events(options.consolePort);
    if (!events.WaitFor("event: window", 0, 5000)) return CheckFailed("no first window event");
    const size_t who = clients.size() > 1 ? 1 : 0;
    const std::string whoName = ClientName("s", who);
    const std::string loginLine =
        whoName + "(127.0.0.1:" + std::to_string(clients.port(who)) + ")login.";
    uint8_t datagram[relay_packet::kRecordFormSize];
    for (int round = 0; round < 10; ++round) {
      size_t from = events.size();
      WriteRecordForm(datagram, relay_packet::kLogout, whoName);
      clients.socket(who).SendTo(datagram, server);
      if (!events.WaitFor(whoName + "(0.0.0.0:0 ) logout.", from, 5000))
        return CheckFailed("no event for a logout");
      clients.Drain(5, 200);
      from = events.size();
      WriteRecordForm(datagram, relay_packet::kLogin, whoName);
      const uint64_t sentAt = NowNs();
      clients.socket(who).SendTo(datagram, server);
      const uint64_t seenAt = events.WaitFor(loginLine, from, 5000);
      if (!seenAt) return CheckFailed("no event for a login");
      eventMs.push_back(double(seenAt - sentAt) / 1e6);
      clients.Drain(5, 200);
    }
  }
  const std::string phase =
      pressure ? "console-" + options.consolePressure : std::string("console");
  ResultLine result("state", options.label, phase);
  if (pressure) {
    result.Add("pressure_opened", double(pressure->opened()))
        .Add("pressure_closed", double(pressure->closedByServer()))
        .Add("routes", double(routes))
        .Add("route_rows", double(routeRows));
  }
  result.Add("clients", double(clients.size()))
      .Add("log_lines", double(lines))
      .Add("window_bytes", double(windowBytes))
      .Add("get_window_ms", Median(getMs))
      .Add("get_window_max_ms", *std::max_element(getMs.begin(), getMs.end()))
      .Add("login_event_ms", Median(eventMs))
      .Add("login_event_max_ms", *std::max_element(eventMs.begin(), eventMs.end()))
      .Add("rss_kib", double(ResidentKib(probe.pid())))
      .Print();
  return 0;
}

}  // namespace halvyn::bench
