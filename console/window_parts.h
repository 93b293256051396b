// The subsystems the window's handlers drive, as the code that assembles the
// server hands them to the window. The window owns none of them; each outlives it.
#pragma once

namespace halvyn {

class ClientTable;
class DeviceMap;
class DeviceSocketWriter;
class RelayServer;
class RouteProgrammer;
class RouteState;
class StunClient;
class UdpSocket;
struct DeviceLinkCounters;

// The device link's worker threads as the window starts and stops them.
// Window thread only.
class DeviceLinkWorkers {
 public:
  // Starts listening for device announcements; they reach the window as
  // OnDeviceAnnounce, sent.
  virtual void StartDiscovery() = 0;
  // Stops listening, serving the window's sent messages meanwhile; a listener
  // that has not ended within the bounded wait is joined at shutdown.
  virtual void StopDiscovery() = 0;
  // Starts the device socket's readable notices (OnStunReadable, posted);
  // false when they cannot be registered.
  virtual bool StartDeviceSocketNotices() = 0;
  // Asks for the next readable notice once a datagram has been read.
  virtual void RearmDeviceSocketNotices() = 0;

 protected:
  ~DeviceLinkWorkers() = default;
};

struct WindowParts {
  // Any thread (the table has its own lock).
  ClientTable& clientTable;
  RelayServer& relayServer;
  // Shared with the relay receive thread through its own lock.
  RouteState& routeState;
  const RouteProgrammer& routeProgrammer;
  // Sends every device datagram and the STUN requests; bound to 19002 at start-up.
  UdpSocket& deviceSocket;
  DeviceSocketWriter& deviceWriter;
  DeviceLinkCounters& deviceLinkCounters;
  DeviceMap& deviceMap;
  StunClient& stunClient;
  DeviceLinkWorkers& deviceLinkWorkers;
};

}  // namespace halvyn
