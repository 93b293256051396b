// The owner of every port-learning listener: starts one per granted route,
// forgets the ones that have ended, and closes and joins them all at shutdown.
//
// StartPortLearning runs on the relay receive thread; the rest on any thread.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "devicelink/device_link_constants.h"  // kBindingIpFailureText
#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "routes/port_learning_listener.h"
#include "routes/port_learning_starter.h"

namespace halvyn {

class PortLearningListeners final : public PortLearningStarter {
 public:
  // Shows a modal message box with OK; queues it and returns at once.
  using MessageBox = std::function<void(std::string_view text)>;
  // Where the listener of a slot port binds; 0.0.0.0 at the slot port unless a
  // test moves it.
  using BindEndpoint = std::function<Ipv4Endpoint(uint16_t slotPort)>;

  // The listeners count in counters, which must outlive this.
  PortLearningListeners(PortLearnedReport report, MessageBox messageBox, RouteCounters& counters,
                        BindEndpoint bindAt = {});
  // CloseAll.
  ~PortLearningListeners() override;

  // Binds the slot port and starts its listener. When the bind fails (an
  // earlier listener may still hold the port; it then serves the new route,
  // as it reports the same slot port) shows "binding ip failure." and starts
  // nothing. After CloseAll does nothing.
  void StartPortLearning(uint16_t slotPort) override;

  // Closes every listener and joins its thread; later starts do nothing. Not
  // on the window thread while it serves messages (see PortLearningListener::Join).
  void CloseAll();

  // Listeners still waiting for their probe.
  size_t waiting() const;
  // Where the waiting listener of slotPort is bound, if there is one.
  std::optional<Ipv4Endpoint> ListeningEndpoint(uint16_t slotPort) const;

 private:
  // Removes the listeners that have ended; the caller destroys them outside the lock.
  std::vector<std::unique_ptr<PortLearningListener>> TakeFinished() REQUIRES(mutex_);

  const PortLearnedReport report_;
  const MessageBox messageBox_;
  const BindEndpoint bindAt_;
  RouteCounters& counters_;
  mutable Mutex mutex_;
  std::vector<std::unique_ptr<PortLearningListener>> listeners_ GUARDED_BY(mutex_);
  bool closed_ GUARDED_BY(mutex_) = false;
};

}  // namespace halvyn
