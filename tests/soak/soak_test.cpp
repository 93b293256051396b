// The soak: the real halvyn on the LAN rig for minutes under everything at
// once, and the checks that must hold throughout and at the end.
//
//   gw    10.200.0.1    the PC's gateway; coturn answers STUN on :3478
//   pc    10.200.0.10   halvyn --start; its console on the namespace's 127.0.0.1:7080;
//                       545 relay clients on the same loopback
//   dev1  10.200.0.101  halvyn-devsim, selected first (register image in a file)
//   dev2  10.200.0.102  halvyn-devsim, selected for a while
//   noise 10.200.0.200  random datagrams at every port halvyn listens on
//
// Meanwhile the operator (this test, through the console API) gets the public
// address, selects the other device and back, stops and starts the relay,
// clears the clients and the messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "bench/process_stats.h"
#include "platform/mac_address.h"
#include "tests/lan/lan_test_fixture.h"
#include "tests/rig/network_namespace_thread.h"
#include "tests/soak/client_fleet.h"
#include "tests/soak/console_noise.h"
#include "tests/soak/datagram_noise.h"
#include "tests/soak/process_status.h"
#include "tests/soak/route_driver.h"
#include "tests/soak/soak_clock.h"
#include "tests/soak/soak_settings.h"
#include "tests/soak/window_watch.h"
#include "tests/stun/stun_server_process.h"

namespace halvyn::testing::soak {
namespace {

using nlohmann::json;

constexpr char kStunAddress[] = "10.200.0.1";
constexpr char kNoiseAddress[] = "10.200.0.200";
const char* const kDeviceMacs[] = {"02:50:4b:00:00:01", "02:50:4b:00:00:02"};
const Ipv4Endpoint kRelay{NetworkAddress(127, 0, 0, 1), 7002};
const Ipv4Endpoint kConsole{NetworkAddress(127, 0, 0, 1), 7080};

// Growth allowed between the sample after the warm-up and the one at the
// end. The sanitizer builds hold on to more memory of their own (ASan's
// quarantine of freed blocks is limited to 16 MiB below).
constexpr uint64_t kResidentGrowthKib = HALVYN_TEST_TIME_SCALE == 1 ? 8 * 1024 : 64 * 1024;
constexpr int kThreadGrowth = 2;

// Something that must happen now and then, at most once per period.
struct Every {
  int64_t period;
  int64_t next = 0;
  bool Due(int64_t now) {
    if (now < next) return false;
    next = now + period;
    return true;
  }
};

class Soak : public testing::LanTest {
 protected:
  void SetUp() override {
    LanTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    for (int n = 1; n <= 2; ++n) {
      imagePaths_[n - 1] = rig_->directory() + "/dev" + std::to_string(n) + ".image";
      StartDevsim(AddDevice(n),
                  {"--id", "SOAK-" + std::to_string(n), "--name", "Soak device", "--mac",
                   kDeviceMacs[n - 1], "--quiet", "--dump-file", imagePaths_[n - 1]});
    }
    noise_ = rig_->AddHost("noise");
    rig_->AddAdapter(noise_, "eth0", std::string(kNoiseAddress) + "/24");
    rig_->AddDefaultRoute(noise_, kGatewayAddress, "eth0");
    ASSERT_TRUE(rig_->ok()) << rig_->error();

    // coturn in the gateway's namespace, reached from the PC across the LAN.
    bool answering = false;
    rig::RunInNetworkNamespace(gateway_, [&] {
      stun_.emplace(Ipv4Endpoint{*ParseDotted(kStunAddress), 3478});
      answering = stun_->WaitUntilAnswering();
    });
    ASSERT_TRUE(stun_->started())
        << "turnserver cannot be run: scripts/install-deps.sh test installs coturn";
    ASSERT_TRUE(answering) << stun_->Output();

    // ASan keeps freed memory in a quarantine of up to 256 MiB, which would
    // read as growth; 16 MiB still catches a use soon after a free.
    const char* asanOptions = std::getenv("ASAN_OPTIONS");
    std::string options = asanOptions ? std::string(asanOptions) + ":" : "";
    setenv("ASAN_OPTIONS", (options + "quarantine_size_mb=16").c_str(), 1);
    StartHalvyn({"--start"});
    WaitForWindow([](const json& w) { return w["startStop"] == "Stop"; });
    WaitForDeviceRows(2);
    const std::optional<MacAddress> gatewayMac = ParseMac(MacOf(gateway_));
    ASSERT_TRUE(gatewayMac);
    gatewayMac_ = *gatewayMac;
  }

  void TearDown() override {
    stun_.reset();
    LanTest::TearDown();
  }

  // Datagrams the kernel dropped at halvyn's relay socket for want of room.
  uint64_t RelaySocketDrops() {
    uint64_t drops = 0;
    InNamespace(pc_, [&] {
      drops = bench::ReadUdpSockets([](uint16_t port) { return port == kRelay.port; },
                                    "/proc/thread-self/net/udp")
                  .drops;
    });
    return drops;
  }

  void InNamespace(const std::string& name, const std::function<void()>& work) {
    if (!rig::RunInNetworkNamespace(name, work)) ADD_FAILURE() << "cannot enter " << name;
  }

  // Double-clicks device n's row; true when the window shows it selected.
  bool SelectDevice(int n, RouteDriver& routes) {
    const json window = halvyn_->Window();
    int row = -1;
    for (size_t i = 0; i < window["lanDevices"].size(); ++i)
      if (window["lanDevices"][i][3] == DeviceAddress(n)) row = int(i);
    json after;
    if (row < 0) return false;
    {
      const auto busy = watch_->OperatorCommand();
      if (halvyn_->Command("select-device", nullptr, &after, row) != 200) return false;
    }
    EXPECT_EQ(after["forwardRoutes"], json::array()) << "selection leaves the route list empty";
    SelectedDevice device;
    device.address = *ParseDotted(DeviceAddress(n));
    device.mac = *ParseMac(kDeviceMacs[n - 1]);
    device.imagePath = imagePaths_[n - 1];
    routes.OnDeviceSelected(device);
    selected_ = n;
    return true;
  }

  std::string noise_;
  std::string imagePaths_[2];
  std::optional<testing::StunServerProcess> stun_;
  MacAddress gatewayMac_{};
  int selected_ = 0;
  WindowWatch* watch_ = nullptr;  // the test's, while it runs
};

TEST_F(Soak, ServerStaysSoundUnderLoadAndFaults) {
  const SoakSettings settings = SoakSettings::FromEnvironment();
  std::printf("%s\n", settings.Describe().c_str());
  std::fflush(stdout);
  RecordProperty("seed", std::to_string(settings.seed));
  std::mt19937_64 random(settings.seed);
  Findings findings;
  Timeline timeline;

  ClientFleet fleet([&](const std::function<void()>& work) { InNamespace(pc_, work); }, kRelay,
                    random, findings, timeline);
  RouteDriver routes(fleet, kRelay, random, findings);
  fleet.OnRouteReply(
      [&](int client, std::span<const uint8_t> datagram) { routes.OnReply(client, datagram); });
  DatagramNoise noise(settings.seed + 1, *ParseDotted(kPcAddress));
  ASSERT_TRUE(noise.Open([&](const std::function<void()>& work) { InNamespace(noise_, work); }));
  ConsoleNoise consoleNoise(settings.seed + 2, pc_, kConsole, Scaled(kConsoleNoiseEveryMs));
  WindowWatch watch(pc_, kConsole, kWindowPollEveryMs, Scaled(kWindowAnswerMs), findings);
  watch_ = &watch;

  ASSERT_TRUE(SelectDevice(1, routes));
  watch.Start();
  ASSERT_TRUE(fleet.Open(NowMs()));

  bool publicAddressAsked = false;
  bool publicAddressShown = false;
  bool alive = true;
  uint64_t windowSamples = 0;
  Every aliveCheck{500};

  // Everything the window said since the last call.
  auto digest = [&] {
    for (const WindowSample& sample : watch.Take()) {
      ++windowSamples;
      WindowSnapshot snapshot{sample.sentAt, sample.answeredAt, {}};
      for (const json& name : sample.window["remoteDevices"])
        snapshot.remoteDevices.push_back(name);
      fleet.CheckWindowList(snapshot, Scaled(1000));
      if (!sample.window["messageBoxes"].empty()) {
        findings.Add("a message box was raised", sample.window["messageBoxes"].dump());
        halvyn_->Command("dismiss-message");
      }
      if (publicAddressAsked && sample.window["publicAddress"] == kPcAddress)
        publicAddressShown = true;
    }
  };
  // One turn of the main loop: read, send what is due, look at the window.
  auto turn = [&] {
    fleet.Poll(2);
    const int64_t now = NowMs();
    fleet.Tick(now);
    routes.Pump(now);
    digest();
    if (aliveCheck.Due(now) && halvyn_->WaitForExit(std::chrono::milliseconds(0))) {
      findings.Add("halvyn ended during the soak", halvyn_->Stderr());
      alive = false;
    }
  };
  // Turns until done() or timeoutMs; returns done().
  auto turnUntil = [&](const std::function<bool()>& done, int64_t timeoutMs) {
    const int64_t deadline = NowMs() + timeoutMs;
    while (alive && !done() && NowMs() < deadline) turn();
    return done();
  };

  // Warm-up: every client that should be online is, and confirmed.
  ASSERT_TRUE(turnUntil([&] { return fleet.Settled(); }, Scaled(60000)))
      << fleet.OnlineCount() << " clients online\n"
      << findings.Report();

  // The loaded phase. The operator's actions repeat every cycle; those that
  // reset route state wait until no route step is in flight.
  enum class Action { kPublicIp, kSelectOther, kStop, kStart, kClear, kSelectFirst, kSample };
  struct Planned {
    int64_t at;
    Action action;
  };
  const int64_t begin = NowMs();
  const int64_t end = begin + settings.seconds * 1000;
  const int64_t cycle = std::min<int64_t>(settings.seconds, 120) * 1000;
  std::vector<Planned> plan;
  plan.push_back({begin + std::min<int64_t>(15000, cycle / 6), Action::kSample});
  for (int64_t c = begin; c < end; c += cycle) {
    plan.push_back({c + cycle * 10 / 100, Action::kPublicIp});
    plan.push_back({c + cycle * 25 / 100, Action::kSelectOther});
    plan.push_back({c + cycle * 40 / 100, Action::kStop});
    plan.push_back({c + cycle * 60 / 100, Action::kClear});
    plan.push_back({c + cycle * 80 / 100, Action::kSelectFirst});
    plan.push_back({c + cycle * 90 / 100, Action::kPublicIp});
  }
  std::sort(plan.begin(), plan.end(),
            [](const Planned& a, const Planned& b) { return a.at < b.at; });

  Every churn{Scaled(kChurnEveryMs)};
  Every info{Scaled(kInfoEveryMs)};
  Every connect{Scaled(kConnectEveryMs)};
  Every natChange{Scaled(kNatChangeEveryMs)};
  Every routeStep{Scaled(kRouteStepEveryMs)};
  Every noiseStep{Scaled(kNoiseEveryMs)};
  Every clearMessages{15000};
  bool running = true;
  bool routesPaused = false;
  int resyncs = 0;
  int stops = 0, clears = 0, selections = 1;
  ProcessStatus warm;

  consoleNoise.Start();
  size_t next = 0;
  while (alive && NowMs() < end) {
    turn();
    const int64_t now = NowMs();
    if (churn.Due(now) && running) fleet.Churn(now);
    if (info.Due(now)) fleet.ReportInfo(now);
    if (connect.Due(now)) fleet.Connect(now);
    if (natChange.Due(now)) fleet.ChangeNatPort(now);
    if (noiseStep.Due(now)) noise.SendOne();
    if (clearMessages.Due(now)) {
      EXPECT_EQ(halvyn_->Command("clear-messages"), 200);
    }
    if (running && !routesPaused && routeStep.Due(now)) routes.Step(now);
    if (running && routes.NeedsResync() && routes.Idle(now)) {
      ++resyncs;
      EXPECT_TRUE(SelectDevice(selected_, routes));
    }
    if (next >= plan.size() || now < plan[next].at) continue;
    // Actions that touch the route state or the relay wait for quiet routes.
    const Action action = plan[next].action;
    const bool needsQuiet = action != Action::kPublicIp && action != Action::kStart;
    if (needsQuiet && !routes.Idle(now)) {
      routesPaused = true;
      continue;
    }
    routesPaused = false;
    ++next;
    json window;
    switch (action) {
      case Action::kSample:
        warm = ProcessStatus::Read(halvyn_->pid());
        break;
      case Action::kPublicIp:
        EXPECT_EQ(halvyn_->Command("get-public-ip", {{"stunServer", kStunAddress}}), 200);
        publicAddressAsked = true;
        break;
      case Action::kSelectOther:
        EXPECT_TRUE(SelectDevice(2, routes));
        ++selections;
        break;
      case Action::kSelectFirst:
        EXPECT_TRUE(SelectDevice(1, routes));
        ++selections;
        break;
      case Action::kStop:
        EXPECT_EQ(halvyn_->Command("start-stop", nullptr, &window), 200);
        EXPECT_EQ(window["startStop"], "Start");
        timeline.Stopped(now);
        running = false;
        ++stops;
        plan.insert(plan.begin() + long(next), {now + Scaled(1500), Action::kStart});
        break;
      case Action::kStart:
        EXPECT_EQ(halvyn_->Command("start-stop", nullptr, &window), 200);
        EXPECT_EQ(window["startStop"], "Stop");
        // Keep-alives sent while stopped were lost; one period later all are fresh.
        timeline.Started(now + kKeepAliveMs + 1000);
        running = true;
        break;
      case Action::kClear:
        EXPECT_EQ(halvyn_->Command("clear-clients", nullptr, &window), 200);
        EXPECT_EQ(window["remoteDevices"], json::array());
        timeline.Cleared(now);
        fleet.OnCleared(now);
        ++clears;
        break;
    }
  }
  consoleNoise.Stop();
  ASSERT_TRUE(alive) << findings.Report();
  if (!running) {  // the run ended while stopped
    EXPECT_EQ(halvyn_->Command("start-stop"), 200);
    timeline.Started(NowMs() + kKeepAliveMs + 1000);
  }

  // Quiet: the clients settle, the routes finish what is in flight.
  EXPECT_TRUE(turnUntil([&] { return fleet.Settled() && routes.Idle(NowMs()); }, Scaled(20000)))
      << "the clients or routes never settled";
  if (routes.NeedsResync()) {
    ++resyncs;
    EXPECT_TRUE(SelectDevice(selected_, routes));
  }
  turnUntil([] { return false; }, Scaled(500));

  // The route invariant: the forward route list and the device's registers
  // match the routes the clients were granted and did not release.
  const int routesAtEnd = routes.RouteCount();
  routes.CheckWindowRows(halvyn_->Window()["forwardRoutes"]);
  const std::optional<DeviceImage> image = DeviceImage::Read(imagePaths_[selected_ - 1]);
  ASSERT_TRUE(image) << "no register image of device " << selected_;
  routes.CheckDeviceImage(*image, gatewayMac_);

  // Release everything; then every slot and channel must be free again:
  // 32 one-channel routes are granted slot by slot, the 33rd is refused.
  auto releaseAll = [&] {
    while (alive && routes.AnyRoute()) {
      if (!turnUntil([&] { return routes.Idle(NowMs()); }, Scaled(5000))) break;
      routes.Release(NowMs(), *routes.AnyRoute());
    }
    turnUntil([&] { return routes.Idle(NowMs()); }, Scaled(5000));
  };
  releaseAll();
  EXPECT_EQ(routes.RouteCount(), 0);
  const uint64_t grantedBefore = routes.counters().granted;
  const uint64_t refusedBefore = routes.counters().refused;
  for (int i = 0; i < 33 && alive; ++i) {
    ASSERT_TRUE(turnUntil([&] { return routes.Idle(NowMs()); }, Scaled(5000)));
    ASSERT_TRUE(routes.Request(NowMs(), 1));
  }
  turnUntil([&] { return routes.Idle(NowMs()); }, Scaled(5000));
  EXPECT_EQ(routes.counters().granted - grantedBefore, 32u);
  EXPECT_EQ(routes.counters().refused - refusedBefore, 1u);
  EXPECT_EQ(routes.RouteCount(), 32);
  routes.CheckWindowRows(halvyn_->Window()["forwardRoutes"]);
  releaseAll();
  EXPECT_EQ(halvyn_->Window()["forwardRoutes"], json::array());

  // Memory and threads: flat between the warm-up and now.
  const ProcessStatus last = ProcessStatus::Read(halvyn_->pid());
  EXPECT_TRUE(warm.ok && last.ok) << "cannot read /proc/" << halvyn_->pid() << "/status";
  EXPECT_LE(last.residentKib, warm.residentKib + kResidentGrowthKib)
      << "resident memory grew from " << warm.residentKib << " KiB to " << last.residentKib
      << " KiB";
  EXPECT_LE(last.threads, warm.threads + kThreadGrowth)
      << "threads grew from " << warm.threads << " to " << last.threads;

  const uint64_t relayDrops = RelaySocketDrops();
  watch.Stop();
  digest();
  EXPECT_TRUE(publicAddressShown) << "Get Public IP never showed " << kPcAddress;
  std::ifstream addressFile(halvyn_->workDir() / "server.txt", std::ios::binary);
  std::stringstream addressText;
  addressText << addressFile.rdbuf();
  EXPECT_EQ(addressText.str(), std::string(kPcAddress) + "\r\n7002\r\n");

  // Exit ends the process promptly and cleanly.
  const int64_t exitAt = NowMs();
  halvyn_->Command("exit");
  const std::optional<int> status = halvyn_->WaitForExit(std::chrono::milliseconds(Scaled(2000)));
  const int64_t exitMs = NowMs() - exitAt;
  EXPECT_EQ(status, std::optional<int>(0))
      << "Exit took more than " << Scaled(2000) << " ms or failed";
  const std::string errors = halvyn_->Stderr();
  for (const char* report : {"ERROR: AddressSanitizer", "WARNING: ThreadSanitizer",
                             "ERROR: LeakSanitizer", "runtime error"})
    EXPECT_EQ(errors.find(report), std::string::npos) << errors;

  // The soak must have done what it set out to do.
  const ClientFleet::Counters& clients = fleet.counters();
  const RouteDriver::Counters& routeCounts = routes.counters();
  EXPECT_GE(clients.logins, uint64_t(testing::kTimeScale == 1 ? kClientCount : kKeeperCount));
  EXPECT_GT(clients.vanished, 0u);
  EXPECT_GT(clients.logouts, 0u);
  EXPECT_GT(clients.natChanges, 0u);
  EXPECT_GT(clients.connectsDelivered, 0u);
  EXPECT_GT(clients.presenceChecks, 0u);
  // A vanished client needs up to 27.6 s to be dropped.
  if (settings.seconds >= 90) {
    EXPECT_GT(clients.dropsSeen, 0u);
  }
  EXPECT_GT(routeCounts.released, 32u);
  EXPECT_GT(routeCounts.refused, 1u);
  EXPECT_GT(windowSamples, 100u);

  std::printf(
      "soak figures: %lld s, seed %llu; datagrams sent %llu by clients, %llu noise, %llu console "
      "connections (%llu answered); clients %d, logins %llu, logouts %llu, vanished %llu, NAT "
      "changes %llu, connects %llu/%llu delivered, lists %llu, listed checks %llu, drops in time "
      "%llu; routes requested %llu, granted %llu, "
      "refused %llu, probed %llu, released %llu, lost replies %llu, resyncs %d, most at once %d, "
      "at end %d; "
      "operator stops %d, clears %d, selections %d; window answers %zu, max %.1f ms, p99 %.1f ms; "
      "RSS %llu -> %llu KiB, threads %d -> %d; relay socket drops %llu; exit %lld ms\n",
      (long long)settings.seconds, (unsigned long long)settings.seed,
      (unsigned long long)clients.sent, (unsigned long long)noise.sent(),
      (unsigned long long)consoleNoise.connections(), (unsigned long long)consoleNoise.answered(),
      kClientCount, (unsigned long long)clients.logins, (unsigned long long)clients.logouts,
      (unsigned long long)clients.vanished, (unsigned long long)clients.natChanges,
      (unsigned long long)clients.connectsDelivered, (unsigned long long)clients.connectsSent,
      (unsigned long long)clients.lists, (unsigned long long)clients.presenceChecks,
      (unsigned long long)clients.dropsSeen, (unsigned long long)routeCounts.requests,
      (unsigned long long)routeCounts.granted, (unsigned long long)routeCounts.refused,
      (unsigned long long)routeCounts.probes, (unsigned long long)routeCounts.released,
      (unsigned long long)routeCounts.lostReplies, resyncs, routeCounts.mostRoutes, routesAtEnd,
      stops, clears, selections, watch.count(), watch.MaxMs(), watch.PercentileMs(99),
      (unsigned long long)warm.residentKib, (unsigned long long)last.residentKib, warm.threads,
      last.threads, (unsigned long long)relayDrops, (long long)exitMs);
  std::fflush(stdout);
  EXPECT_TRUE(findings.empty()) << findings.Report() << "(the relay socket dropped " << relayDrops
                                << " datagrams)";
}

}  // namespace
}  // namespace halvyn::testing::soak
