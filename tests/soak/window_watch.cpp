#include "tests/soak/window_watch.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>

#include "tests/rig/network_namespace_thread.h"
#include "tests/soak/soak_clock.h"

namespace halvyn::testing::soak {

namespace {

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

WindowWatch::OperatorCommandGuard::~OperatorCommandGuard() {
  watch_.lastCommandEndedUs_ = NowUs();
  --watch_.commandsInFlight_;
}

WindowWatch::WindowWatch(std::string networkNamespace, Ipv4Endpoint console, int64_t everyMs,
                         int64_t boundMs, Findings& findings)
    : namespace_(std::move(networkNamespace)),
      console_(console),
      everyMs_(everyMs),
      boundMs_(boundMs),
      findings_(findings) {}

WindowWatch::~WindowWatch() {
  Stop();
}

void WindowWatch::Start() {
  thread_ = std::thread([this] { rig::RunInNetworkNamespace(namespace_, [this] { Run(); }); });
}

void WindowWatch::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

std::vector<WindowSample> WindowWatch::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<WindowSample> taken(samples_.begin(), samples_.end());
  samples_.clear();
  return taken;
}

void WindowWatch::Run() {
  const std::string host = DottedText(console_.address);
  while (!stop_) {
    const int64_t started = NowMs();
    httplib::Client client(host, console_.port);
    client.set_read_timeout(10, 0);
    const bool commandBefore = commandsInFlight_ > 0;
    const int64_t fromUs = NowUs();
    const auto result = client.Get("/api/window");
    const int64_t tookUs = NowUs() - fromUs;
    const bool metCommand = commandBefore || commandsInFlight_ > 0 || lastCommandEndedUs_ >= fromUs;
    const int64_t boundMs = metCommand ? 2 * boundMs_ : boundMs_;
    WindowSample sample;
    sample.sentAt = started;
    sample.answeredAt = NowMs();
    if (!result || result->status != 200) {
      findings_.Add("the window did not answer",
                    result ? "status " + std::to_string(result->status) : "no answer");
    } else {
      latenciesUs_.push_back(tookUs);
      if (tookUs > boundMs * 1000)
        findings_.Add("the window answered later than " + std::to_string(boundMs) + " ms" +
                          (metCommand ? " (during an operator's command)" : ""),
                      std::to_string(tookUs / 1000) + " ms");
      sample.window = nlohmann::json::parse(result->body, nullptr, false);
      if (sample.window.is_discarded()) {
        findings_.Add("the window's JSON does not parse", "");
      } else {
        std::lock_guard<std::mutex> lock(mutex_);
        if (samples_.size() < 1000) samples_.push_back(std::move(sample));
      }
    }
    const int64_t next = started + everyMs_;
    while (!stop_ && NowMs() < next) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

double WindowWatch::MaxMs() const {
  if (latenciesUs_.empty()) return 0;
  return double(*std::max_element(latenciesUs_.begin(), latenciesUs_.end())) / 1000.0;
}

double WindowWatch::PercentileMs(double p) const {
  if (latenciesUs_.empty()) return 0;
  std::vector<int64_t> sorted = latenciesUs_;
  std::sort(sorted.begin(), sorted.end());
  const size_t k = std::min(sorted.size() - 1, size_t(p / 100.0 * double(sorted.size())));
  return double(sorted[k]) / 1000.0;
}

}  // namespace halvyn::testing::soak
