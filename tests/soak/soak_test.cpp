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
#include <functional>
#include <optional>
#include <random>
#include <span>
#include <sstream>
#include <vector>

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
#include "tests/soak/soak_figures.h"
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

// The operator's actions in the loaded phase.
enum class Action { kPublicIp, kSelectOther, kStop, kStart, kClear, kSelectFirst, kSample };
struct Planned {
  int64_t at;
  Action action;
};

// The operator's plan from begin to end: a memory sample once the load runs,
// then every cycle (the run, at most two minutes) Get Public IP, the other
// device, Stop (a Start follows it), Clear clients, the first device again and
// Get Public IP once more. In time order.
std::vector<Planned> OperatorPlan(int64_t begin, int64_t end, int64_t seconds) {
  const int64_t cycle = std::min<int64_t>(seconds, 120) * 1000;
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
  return plan;
}

// Actions that touch the route state or the relay wait for quiet routes.
bool NeedsQuietRoutes(Action action) {
  return action != Action::kPublicIp && action != Action::kStart;
}

// The paces of the loaded phase's events.
struct LoadPace {
  Every churn{Scaled(kChurnEveryMs)};
  Every info{Scaled(kInfoEveryMs)};
  Every connect{Scaled(kConnectEveryMs)};
  Every natChange{Scaled(kNatChangeEveryMs)};
  Every routeStep{Scaled(kRouteStepEveryMs)};
  Every noiseStep{Scaled(kNoiseEveryMs)};
  Every clearMessages{15000};
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
    noiseHost_ = rig_->AddHost("noise");
    rig_->AddAdapter(noiseHost_, "eth0", std::string(kNoiseAddress) + "/24");
    rig_->AddDefaultRoute(noiseHost_, kGatewayAddress, "eth0");
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
    // The traffic ends first, newest part first, while halvyn and the rig still run.
    watch_.reset();
    consoleNoise_.reset();
    noise_.reset();
    routes_.reset();
    fleet_.reset();
    stun_.reset();
    LanTest::TearDown();
  }

  // Reads the run's length and seed, prints them and seeds the randomness.
  void BeginRun() {
    settings_ = SoakSettings::FromEnvironment();
    std::printf("%s\n", settings_.Describe().c_str());
    std::fflush(stdout);
    RecordProperty("seed", std::to_string(settings_.seed));
    random_.seed(settings_.seed);
    figures_.seconds = settings_.seconds;
    figures_.seed = settings_.seed;
  }

  // The clients and their routes, the noise and the window watch; device 1
  // is selected, the watch polls and the clients log in.
  void StartTraffic() {
    fleet_.emplace([this](const std::function<void()>& work) { InNamespace(pc_, work); }, kRelay,
                   random_, findings_, timeline_);
    routes_.emplace(*fleet_, kRelay, random_, findings_);
    fleet_->OnRouteReply([this](int client, std::span<const uint8_t> datagram) {
      routes_->OnReply(client, datagram);
    });
    noise_.emplace(settings_.seed + 1, *ParseDotted(kPcAddress));
    ASSERT_TRUE(
        noise_->Open([this](const std::function<void()>& work) { InNamespace(noiseHost_, work); }));
    consoleNoise_.emplace(settings_.seed + 2, pc_, kConsole, Scaled(kConsoleNoiseEveryMs));
    watch_.emplace(pc_, kConsole, kWindowPollEveryMs, Scaled(kWindowAnswerMs), findings_);

    ASSERT_TRUE(SelectDevice(1));
    ++figures_.selections;
    watch_->Start();
    ASSERT_TRUE(fleet_->Open(NowMs()));
  }

  // Warm-up: every client that should be online is, and confirmed.
  void WarmUp() {
    ASSERT_TRUE(TurnUntil([&] { return fleet_->Settled(); }, Scaled(60000)))
        << fleet_->OnlineCount() << " clients online\n"
        << findings_.Report();
  }

  // The loaded phase: the clients' and the noise's events at their paces,
  // route steps, and the operator's plan.
  void RunLoadedPhase() {
    const int64_t begin = NowMs();
    const int64_t end = begin + settings_.seconds * 1000;
    std::vector<Planned> plan = OperatorPlan(begin, end, settings_.seconds);
    LoadPace pace;
    consoleNoise_->Start();
    size_t next = 0;
    while (alive_ && NowMs() < end) {
      Turn();
      const int64_t now = NowMs();
      SendDueLoad(pace, now);
      if (next >= plan.size() || now < plan[next].at) continue;
      const Action action = plan[next].action;
      if (NeedsQuietRoutes(action) && !routes_->Idle(now)) {
        routesPaused_ = true;
        continue;
      }
      routesPaused_ = false;
      ++next;
      if (const std::optional<Planned> followUp = Perform(action, now))
        plan.insert(plan.begin() + long(next), *followUp);
    }
    consoleNoise_->Stop();
  }

  // The events that are due now; a lost route selection is made again.
  void SendDueLoad(LoadPace& pace, int64_t now) {
    if (pace.churn.Due(now) && running_) fleet_->Churn(now);
    if (pace.info.Due(now)) fleet_->ReportInfo(now);
    if (pace.connect.Due(now)) fleet_->Connect(now);
    if (pace.natChange.Due(now)) fleet_->ChangeNatPort(now);
    if (pace.noiseStep.Due(now)) noise_->SendOne();
    if (pace.clearMessages.Due(now)) {
      EXPECT_EQ(halvyn_->Command("clear-messages"), 200);
    }
    if (running_ && !routesPaused_ && pace.routeStep.Due(now)) routes_->Step(now);
    if (running_ && routes_->NeedsResync() && routes_->Idle(now)) Resync();
  }

  // One of the operator's actions; a Stop returns the Start that follows it.
  std::optional<Planned> Perform(Action action, int64_t now) {
    json window;
    switch (action) {
      case Action::kSample:
        figures_.warm = ProcessStatus::Read(halvyn_->pid());
        break;
      case Action::kPublicIp:
        EXPECT_EQ(halvyn_->Command("get-public-ip", {{"stunServer", kStunAddress}}), 200);
        publicAddressAsked_ = true;
        break;
      case Action::kSelectOther:
        EXPECT_TRUE(SelectDevice(2));
        ++figures_.selections;
        break;
      case Action::kSelectFirst:
        EXPECT_TRUE(SelectDevice(1));
        ++figures_.selections;
        break;
      case Action::kStop:
        EXPECT_EQ(halvyn_->Command("start-stop", nullptr, &window), 200);
        EXPECT_EQ(window["startStop"], "Start");
        timeline_.Stopped(now);
        running_ = false;
        ++figures_.stops;
        return Planned{now + Scaled(1500), Action::kStart};
      case Action::kStart:
        EXPECT_EQ(halvyn_->Command("start-stop", nullptr, &window), 200);
        EXPECT_EQ(window["startStop"], "Stop");
        // Keep-alives sent while stopped were lost; one period later all are fresh.
        timeline_.Started(now + kKeepAliveMs + 1000);
        running_ = true;
        break;
      case Action::kClear:
        EXPECT_EQ(halvyn_->Command("clear-clients", nullptr, &window), 200);
        EXPECT_EQ(window["remoteDevices"], json::array());
        timeline_.Cleared(now);
        fleet_->OnCleared(now);
        ++figures_.clears;
        break;
    }
    return std::nullopt;
  }

  // The run may have ended while the relay was stopped.
  void StartIfStopped() {
    if (running_) return;
    EXPECT_EQ(halvyn_->Command("start-stop"), 200);
    timeline_.Started(NowMs() + kKeepAliveMs + 1000);
    running_ = true;
  }

  // Quiet: the clients settle, the routes finish what is in flight.
  void Settle() {
    EXPECT_TRUE(
        TurnUntil([&] { return fleet_->Settled() && routes_->Idle(NowMs()); }, Scaled(20000)))
        << "the clients or routes never settled";
    if (routes_->NeedsResync()) Resync();
    TurnUntil([] { return false; }, Scaled(500));
  }

  // The route invariant: the forward route list and the device's registers
  // match the routes the clients were granted and did not release.
  void CheckRoutesMatchWindowAndDevice() {
    figures_.routesAtEnd = routes_->RouteCount();
    routes_->CheckWindowRows(halvyn_->Window()["forwardRoutes"]);
    const std::optional<DeviceImage> image = DeviceImage::Read(imagePaths_[selected_ - 1]);
    ASSERT_TRUE(image) << "no register image of device " << selected_;
    routes_->CheckDeviceImage(*image, gatewayMac_);
  }

  // Releases everything; then every slot and channel must be free again:
  // 32 one-channel routes are granted slot by slot, the 33rd is refused.
  void CheckEverySlotIsFreeAgain() {
    ReleaseAllRoutes();
    EXPECT_EQ(routes_->RouteCount(), 0);
    const uint64_t grantedBefore = routes_->counters().granted;
    const uint64_t refusedBefore = routes_->counters().refused;
    for (int i = 0; i < 33 && alive_; ++i) {
      ASSERT_TRUE(TurnUntil([&] { return routes_->Idle(NowMs()); }, Scaled(5000)));
      ASSERT_TRUE(routes_->Request(NowMs(), 1));
    }
    TurnUntil([&] { return routes_->Idle(NowMs()); }, Scaled(5000));
    EXPECT_EQ(routes_->counters().granted - grantedBefore, 32u);
    EXPECT_EQ(routes_->counters().refused - refusedBefore, 1u);
    EXPECT_EQ(routes_->RouteCount(), 32);
    routes_->CheckWindowRows(halvyn_->Window()["forwardRoutes"]);
    ReleaseAllRoutes();
    EXPECT_EQ(halvyn_->Window()["forwardRoutes"], json::array());
  }

  // Memory and threads: flat between the warm-up and now.
  void CheckMemoryAndThreadsStayedFlat() {
    figures_.last = ProcessStatus::Read(halvyn_->pid());
    const ProcessStatus& warm = figures_.warm;
    const ProcessStatus& last = figures_.last;
    EXPECT_TRUE(warm.ok && last.ok) << "cannot read /proc/" << halvyn_->pid() << "/status";
    EXPECT_LE(last.residentKib, warm.residentKib + kResidentGrowthKib)
        << "resident memory grew from " << warm.residentKib << " KiB to " << last.residentKib
        << " KiB";
    EXPECT_LE(last.threads, warm.threads + kThreadGrowth)
        << "threads grew from " << warm.threads << " to " << last.threads;
  }

  // The window showed the public address and server.txt holds it.
  void CheckPublicAddress() {
    EXPECT_TRUE(publicAddressShown_) << "Get Public IP never showed " << kPcAddress;
    std::ifstream addressFile(halvyn_->workDir() / "server.txt", std::ios::binary);
    std::stringstream addressText;
    addressText << addressFile.rdbuf();
    EXPECT_EQ(addressText.str(), std::string(kPcAddress) + "\r\n7002\r\n");
  }

  // Exit ends the process promptly and cleanly.
  void CheckExit() {
    const int64_t exitAt = NowMs();
    halvyn_->Command("exit");
    const std::optional<int> status = halvyn_->WaitForExit(std::chrono::milliseconds(Scaled(2000)));
    figures_.exitMs = NowMs() - exitAt;
    EXPECT_EQ(status, std::optional<int>(0))
        << "Exit took more than " << Scaled(2000) << " ms or failed";
    const std::string errors = halvyn_->Stderr();
    for (const char* report : {"ERROR: AddressSanitizer", "WARNING: ThreadSanitizer",
                               "ERROR: LeakSanitizer", "runtime error"})
      EXPECT_EQ(errors.find(report), std::string::npos) << errors;
  }

  // The soak must have done what it set out to do.
  void CheckTheLoadHappened() {
    const ClientFleet::Counters& clients = fleet_->counters();
    const RouteDriver::Counters& routeCounts = routes_->counters();
    EXPECT_GE(clients.logins, uint64_t(testing::kTimeScale == 1 ? kClientCount : kKeeperCount));
    EXPECT_GT(clients.vanished, 0u);
    EXPECT_GT(clients.logouts, 0u);
    EXPECT_GT(clients.natChanges, 0u);
    EXPECT_GT(clients.connectsDelivered, 0u);
    EXPECT_GT(clients.presenceChecks, 0u);
    // A vanished client needs up to 27.6 s to be dropped.
    if (settings_.seconds >= 90) {
      EXPECT_GT(clients.dropsSeen, 0u);
    }
    EXPECT_GT(routeCounts.released, 32u);
    EXPECT_GT(routeCounts.refused, 1u);
    EXPECT_GT(windowSamples_, 100u);
  }

  // The figures line, with the counts of every part of the load.
  void PrintFigures() {
    figures_.clients = fleet_->counters();
    figures_.noiseDatagrams = noise_->sent();
    figures_.consoleConnections = consoleNoise_->connections();
    figures_.consoleAnswered = consoleNoise_->answered();
    figures_.routes = routes_->counters();
    figures_.windowAnswers = watch_->count();
    figures_.windowMaxMs = watch_->MaxMs();
    figures_.windowP99Ms = watch_->PercentileMs(99);
    std::printf("%s\n", FiguresLine(figures_).c_str());
    std::fflush(stdout);
  }

  // One turn of the main loop: read, send what is due, look at the window.
  void Turn() {
    fleet_->Poll(2);
    const int64_t now = NowMs();
    fleet_->Tick(now);
    routes_->Pump(now);
    DigestWindow();
    if (aliveCheck_.Due(now) && halvyn_->WaitForExit(std::chrono::milliseconds(0))) {
      findings_.Add("halvyn ended during the soak", halvyn_->Stderr());
      alive_ = false;
    }
  }

  // Turns until done() or timeoutMs; returns done().
  bool TurnUntil(const std::function<bool()>& done, int64_t timeoutMs) {
    const int64_t deadline = NowMs() + timeoutMs;
    while (alive_ && !done() && NowMs() < deadline) Turn();
    return done();
  }

  // Everything the window said since the last call.
  void DigestWindow() {
    for (const WindowSample& sample : watch_->Take()) {
      ++windowSamples_;
      WindowSnapshot snapshot{sample.sentAt, sample.answeredAt, {}};
      for (const json& name : sample.window["remoteDevices"])
        snapshot.remoteDevices.push_back(name);
      fleet_->CheckWindowList(snapshot, Scaled(1000));
      if (!sample.window["messageBoxes"].empty()) {
        findings_.Add("a message box was raised", sample.window["messageBoxes"].dump());
        halvyn_->Command("dismiss-message");
      }
      if (publicAddressAsked_ && sample.window["publicAddress"] == kPcAddress)
        publicAddressShown_ = true;
    }
  }

  void ReleaseAllRoutes() {
    while (alive_ && routes_->AnyRoute()) {
      if (!TurnUntil([&] { return routes_->Idle(NowMs()); }, Scaled(5000))) break;
      routes_->Release(NowMs(), *routes_->AnyRoute());
    }
    TurnUntil([&] { return routes_->Idle(NowMs()); }, Scaled(5000));
  }

  // Selects the selected device again, so the route model starts afresh.
  void Resync() {
    ++figures_.resyncs;
    EXPECT_TRUE(SelectDevice(selected_));
  }

  // Double-clicks device n's row; true when the window shows it selected.
  bool SelectDevice(int n) {
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
    routes_->OnDeviceSelected(device);
    selected_ = n;
    return true;
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

  // The rig.
  std::string noiseHost_;
  std::string imagePaths_[2];
  std::optional<testing::StunServerProcess> stun_;
  MacAddress gatewayMac_{};

  // The run.
  SoakSettings settings_;
  std::mt19937_64 random_;
  Findings findings_;
  Timeline timeline_;
  SoakFigures figures_;
  std::optional<ClientFleet> fleet_;
  std::optional<RouteDriver> routes_;
  std::optional<DatagramNoise> noise_;
  std::optional<ConsoleNoise> consoleNoise_;
  std::optional<WindowWatch> watch_;
  int selected_ = 0;
  bool alive_ = true;
  bool running_ = true;
  bool routesPaused_ = false;
  bool publicAddressAsked_ = false;
  bool publicAddressShown_ = false;
  uint64_t windowSamples_ = 0;
  Every aliveCheck_{500};
};

TEST_F(Soak, ServerStaysSoundUnderLoadAndFaults) {
  BeginRun();
  ASSERT_NO_FATAL_FAILURE(StartTraffic());
  ASSERT_NO_FATAL_FAILURE(WarmUp());
  RunLoadedPhase();
  ASSERT_TRUE(alive_) << findings_.Report();
  StartIfStopped();
  Settle();
  ASSERT_NO_FATAL_FAILURE(CheckRoutesMatchWindowAndDevice());
  ASSERT_NO_FATAL_FAILURE(CheckEverySlotIsFreeAgain());
  CheckMemoryAndThreadsStayedFlat();
  figures_.relaySocketDrops = RelaySocketDrops();
  watch_->Stop();
  DigestWindow();
  CheckPublicAddress();
  CheckExit();
  CheckTheLoadHappened();
  PrintFigures();
  EXPECT_TRUE(findings_.empty()) << findings_.Report() << "(the relay socket dropped "
                                 << figures_.relaySocketDrops << " datagrams)";
}

}  // namespace
}  // namespace halvyn::testing::soak
