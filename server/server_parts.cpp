#include "server/server_parts.h"

#include <utility>

#include "platform/stop_waiter.h"

namespace halvyn {

ServerParts::ServerParts(WindowMessageQueue& window, const TickClock& clock, Options options)
    : window_(window),
      portLearningListeners_(
          // A listener's probe: handled on the window thread before the listener goes on.
          [this](uint16_t slotPort, uint16_t learntPort) {
            window_.Send([&] { dlg_.OnRoutePortLearned(slotPort, learntPort); });
          },
          [this](std::string_view text) {
            window_.Post([this, message = std::string(text)] { dlg_.ShowMessageBox(message); });
          },
          routeCounters_),
      routeRequestHandler_(
          routeState_, routeProgrammer_, portLearningListeners_,
          [this](std::string_view name) { return clientTable_.EndpointOf(name); },
          [this](RouteSlot slot) { window_.Post([this, slot] { dlg_.OnRouteReleased(slot); }); },
          routeCounters_, relayCounters_),
      notices_(dlg_, window),
      relayServer_(clientTable_, notices_, &routeRequestHandler_, clock, window, relayCounters_,
                   options.relayTiming),
      dlg_(WindowParts{.clientTable = clientTable_,
                       .relayServer = relayServer_,
                       .routeState = routeState_,
                       .routeProgrammer = routeProgrammer_,
                       .deviceSocket = deviceSocket_,
                       .deviceWriter = deviceWriter_,
                       .deviceLinkCounters = deviceLinkCounters_,
                       .deviceMap = deviceMap_,
                       .stunClient = stunClient_,
                       .deviceLinkWorkers = *this},
           window, clock,
           {.startNetwork = options.startNetwork,
            .logOut = options.logOut,
            .errorOut = options.errorOut,
            .lanInterface = std::move(options.lanInterface)}) {}

ServerParts::~ServerParts() {
  // Workers blocked handing a notice to the window return once it has ended.
  window_.End();
  relayServer_.Stop();
  portLearningListeners_.CloseAll();
  if (deviceSocketNotifier_) deviceSocketNotifier_->Stop();
  discoveryListener_.reset();
  stoppingDiscoveryListener_.reset();
}

void ServerParts::StartDiscovery() {
  discoveryListener_ = std::make_unique<DeviceDiscoveryListener>(
      DiscoveryListenerConfig{},
      DiscoveryListenerCallbacks{
          .onDatagram =
              [this](Ipv4Endpoint source, std::span<const uint8_t> bytes) {
                return window_.Send([&] { dlg_.OnDeviceAnnounce(source, bytes); });
              },
          // Error notices reach the window and are dropped there.
          .onNotice = [](int, const std::string&) {},
          .showMessage =
              [this](const std::string& text) {
                window_.Post([this, text] { dlg_.ShowMessageBox(text); });
              },
      });
  discoveryListener_->Start();
}

void ServerParts::StopDiscovery() {
  if (!discoveryListener_) return;
  WindowQueueStopWaiter waiter(window_);
  if (!discoveryListener_->Stop(waiter)) {
    // Still ending after the bounded wait: joined once the window has ended.
    stoppingDiscoveryListener_ = std::move(discoveryListener_);
  }
  discoveryListener_.reset();
}

bool ServerParts::StartDeviceSocketNotices() {
  deviceSocketNotifier_ = std::make_unique<SocketReadableNotifier>(
      deviceSocket_, [this] { window_.Post([this] { dlg_.OnStunReadable(); }); });
  return deviceSocketNotifier_->Start();
}

void ServerParts::RearmDeviceSocketNotices() {
  if (deviceSocketNotifier_) deviceSocketNotifier_->Rearm();
}

}  // namespace halvyn
