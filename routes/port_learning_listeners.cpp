#include "routes/port_learning_listeners.h"

#include <algorithm>

namespace halvyn {

PortLearningListeners::PortLearningListeners(PortLearnedReport report, MessageBox messageBox,
                                             RouteCounters& counters, BindEndpoint bindAt)
    : report_(std::move(report)),
      messageBox_(std::move(messageBox)),
      bindAt_(bindAt ? std::move(bindAt) : BindEndpoint([](uint16_t slotPort) {
        return Ipv4Endpoint{0, slotPort};
      })),
      counters_(counters) {}

PortLearningListeners::~PortLearningListeners() {
  CloseAll();
}

std::vector<std::unique_ptr<PortLearningListener>> PortLearningListeners::TakeFinished() {
  std::vector<std::unique_ptr<PortLearningListener>> finished;
  auto ended = std::stable_partition(listeners_.begin(), listeners_.end(),
                                     [](const auto& listener) { return !listener->finished(); });
  std::move(ended, listeners_.end(), std::back_inserter(finished));
  listeners_.erase(ended, listeners_.end());
  return finished;
}

void PortLearningListeners::StartPortLearning(uint16_t slotPort) {
  std::vector<std::unique_ptr<PortLearningListener>> finished;  // joined on return, unlocked
  bool bound = false;
  {
    MutexLock lock(mutex_);
    if (closed_) return;
    finished = TakeFinished();
    auto listener =
        PortLearningListener::Start(slotPort, bindAt_(slotPort), report_, counters_, nullptr);
    bound = listener != nullptr;
    if (bound) listeners_.push_back(std::move(listener));
  }
  if (!bound) messageBox_(kBindingIpFailureText);
}

void PortLearningListeners::CloseAll() {
  std::vector<std::unique_ptr<PortLearningListener>> all;
  {
    MutexLock lock(mutex_);
    closed_ = true;
    all.swap(listeners_);
  }
  for (const auto& listener : all) listener->Close();
  all.clear();  // each destructor joins its thread
}

size_t PortLearningListeners::waiting() const {
  MutexLock lock(mutex_);
  return size_t(std::count_if(listeners_.begin(), listeners_.end(),
                              [](const auto& listener) { return !listener->finished(); }));
}

std::optional<Ipv4Endpoint> PortLearningListeners::ListeningEndpoint(uint16_t slotPort) const {
  MutexLock lock(mutex_);
  for (const auto& listener : listeners_) {
    if (listener->slotPort() == slotPort && !listener->finished()) {
      return listener->localEndpoint();
    }
  }
  return std::nullopt;
}

}  // namespace halvyn
