// ServerParts: the one place where the server is assembled. It owns every
// subsystem of the process (the client table, the relay server, forward
// routes, the device link, the STUN client), the counters each of them keeps
// and the window, and connects them: the workers' notices reach the window
// through its message queue, the route handler serves the relay, and the
// subsystems' metrics are registered for the metrics page.
//
// Built and destroyed on the thread that owns the process (main); the window's
// handlers run on the window thread. Destruction ends the window, then stops
// and joins every worker before anything they use goes.
#pragma once

#include <array>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "console/halvyn_dlg.h"
#include "console/window_parts.h"
#include "console/window_relay_notices.h"
#include "devicelink/device_discovery_listener.h"
#include "devicelink/device_map.h"
#include "devicelink/device_socket_writer.h"
#include "devicelink/devicelink_counters.h"
#include "devicelink/devicelink_metrics.h"
#include "platform/message_queue.h"
#include "platform/metrics_writer.h"
#include "platform/socket_readable_notifier.h"
#include "platform/tick_count.h"
#include "platform/udp_socket.h"
#include "publicaddress/stun_client.h"
#include "publicaddress/stun_counters.h"
#include "publicaddress/stun_metrics.h"
#include "relay/client_table.h"
#include "relay/relay_counters.h"
#include "relay/relay_metrics.h"
#include "relay/relay_server.h"
#include "routes/port_learning_listeners.h"
#include "routes/route_counters.h"
#include "routes/route_metrics.h"
#include "routes/route_programmer.h"
#include "routes/route_request_handler.h"
#include "routes/route_state.h"

namespace halvyn {

class ServerParts final : private DeviceLinkWorkers {
 public:
  struct Options {
    RelayTiming relayTiming;
    // Network start-up (adapters, discovery, the device socket on 19002);
    // tests of the window alone turn it off.
    bool startNetwork = true;
    std::ostream* logOut = nullptr;    // every log line is echoed here (stdout in halvyn)
    std::ostream* errorOut = nullptr;  // message boxes are echoed here (stderr in halvyn)
    // The LAN adapter by name; empty: chosen from the adapters' state.
    std::string lanInterface = {};
  };

  ServerParts(WindowMessageQueue& window, const TickClock& clock, Options options);
  // Ends the window if it has not ended, then closes and joins every worker
  // (a running relay server, the port-learning listeners, the device socket's
  // notifier, the discovery listener). Not on the window thread while it
  // serves messages.
  ~ServerParts();
  ServerParts(const ServerParts&) = delete;
  ServerParts& operator=(const ServerParts&) = delete;

  CHalvynDlg& window() { return dlg_; }
  // Any thread (the table has its own lock); it lives across every Stop.
  ClientTable& clientTable() { return clientTable_; }
  // Window thread, or before it serves messages (SetLimits).
  RelayServer& relayServer() { return relayServer_; }

  // The subsystems' parts of the metrics page, in the page's order. Any thread.
  std::span<const MetricsSource* const> metricsSources() const { return metricsSources_; }

 private:
  // DeviceLinkWorkers, for the window (window thread).
  void StartDiscovery() override;
  void StopDiscovery() override;
  bool StartDeviceSocketNotices() override;
  void RearmDeviceSocketNotices() override;

  WindowMessageQueue& window_;

  // Each subsystem's counters, for the life of the process.
  RelayCounters relayCounters_;
  RouteCounters routeCounters_;
  DeviceLinkCounters deviceLinkCounters_;
  StunCounters stunCounters_;

  ClientTable clientTable_;

  // The device link. The device socket sends every device datagram and the
  // STUN requests; the window binds it to 19002 at start-up.
  UdpSocket deviceSocket_;
  DeviceSocketWriter deviceWriter_{deviceSocket_, deviceLinkCounters_};
  DeviceMap deviceMap_{deviceLinkCounters_};
  StunClient stunClient_{stunCounters_};
  std::unique_ptr<SocketReadableNotifier> deviceSocketNotifier_;
  std::unique_ptr<DeviceDiscoveryListener> discoveryListener_;
  // A listener whose stop timed out at close: joined by the destructor.
  std::unique_ptr<DeviceDiscoveryListener> stoppingDiscoveryListener_;

  // Forward routes. The route state has its own lock: the relay receive
  // thread allocates, the window thread releases and resets.
  RouteState routeState_;
  RouteProgrammer routeProgrammer_{deviceWriter_};
  PortLearningListeners portLearningListeners_;
  RouteRequestHandler routeRequestHandler_;

  // The relay server's notices go to the window, which is built last: the
  // notices only keep a reference to it until the relay runs.
  WindowRelayNotices notices_;
  RelayServer relayServer_;

  CHalvynDlg dlg_;

  RelayMetrics relayMetrics_{relayCounters_, clientTable_};
  RouteMetrics routeMetrics_{routeCounters_, routeState_};
  DeviceLinkMetrics deviceLinkMetrics_{deviceLinkCounters_};
  StunMetrics stunMetrics_{stunCounters_};
  const std::array<const MetricsSource*, 4> metricsSources_{&relayMetrics_, &routeMetrics_,
                                                            &deviceLinkMetrics_, &stunMetrics_};
};

}  // namespace halvyn
