// Forward routes under load: requests ("r"), probes ("w" to the slot port)
// and releases ("x"), between the fleet's route endpoints, up to all 32 slots.
//
// The driver keeps its own model of the server's slots and channels (lowest
// free slot, lowest free channels) and checks every answer against it: "u"
// and "v" carry the slot the model expects (or 0 exactly when the model has
// no room), "t" and "s" the stored record with the channels the model gave.
// One request or release is in flight at a time, and a new request waits
// until the device shows the last release done, so the model stays exact.
//
// Main thread only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <span>
#include <string>

#include "routes/route_info.h"
#include "routes/route_slot.h"
#include "tests/soak/client_fleet.h"
#include "tests/soak/device_image.h"
#include "tests/soak/findings.h"

namespace halvyn::testing::soak {

struct SelectedDevice {
  uint32_t address = 0;  // network order
  std::array<uint8_t, 6> mac{};
  std::string imagePath;  // its devsim dump file
};

class RouteDriver {
 public:
  struct Counters {
    uint64_t requests = 0;
    uint64_t granted = 0;
    uint64_t refused = 0;
    uint64_t probes = 0;
    uint64_t released = 0;
    uint64_t lostReplies = 0;
    int mostRoutes = 0;  // routes held at once
  };

  RouteDriver(ClientFleet& fleet, Ipv4Endpoint relay, std::mt19937_64& random, Findings& findings);

  // For ClientFleet::OnRouteReply.
  void OnReply(int client, std::span<const uint8_t> datagram);

  // Timeouts, due probes, the end of a release. Call often.
  void Pump(int64_t now);
  // The loaded phase's next step: a request, or a release (more often when full).
  void Step(int64_t now);
  // Requests k channels now (the end checks use it); false while busy.
  bool Request(int64_t now, int k);
  // Releases the route in slot now; false while busy or when the slot is free.
  bool Release(int64_t now, RouteSlot slot);

  // Nothing in flight, every route probed a while ago: the operator may act.
  bool Idle(int64_t now) const;
  // A reply was lost: the model may be wrong until the next device selection.
  bool NeedsResync() const { return uncertain_; }

  // The operator selected this device: the server forgot every route.
  void OnDeviceSelected(const SelectedDevice& device);

  // End checks, with the driver idle: the forward route list and the
  // selected device's registers against the model.
  void CheckWindowRows(const nlohmann::json& rows);
  void CheckDeviceImage(const DeviceImage& image, const std::array<uint8_t, 6>& gatewayMac);

  int RouteCount() const;
  std::optional<RouteSlot> AnyRoute() const;
  uint32_t channelMask() const { return channelMask_; }
  const Counters& counters() const { return counters_; }

 private:
  struct Route {
    CRouteInfo request;  // the body as sent
    ChannelList channels{};
    int k = 0;
    int tx = 0;
    int rx = 0;
    int64_t probeDueAt = 0;
    int64_t probedAt = -1;  // -1: not yet
    uint16_t learntPort = 0;
    bool rowExpected = false;  // both endpoints were listed when it was probed
  };
  struct PendingRequest {
    Route route;
    int64_t sentAt = 0;
    uint8_t countByte = 0;
    bool expectGranted = false;
    RouteSlot expectSlot = 0;
    std::optional<std::array<uint8_t, 228>> u, v;
  };
  struct PendingRelease {
    Route route;
    RouteSlot slot = 0;
    int64_t sentAt = 0;
    bool gotT = false, gotS = false;
    int64_t doneAt = -1;  // the device's summary block read back zero
  };

  void Judge(int64_t now);
  void CheckNotice(const PendingRelease& release, std::span<const uint8_t> datagram,
                   uint8_t letter);
  bool ReleaseShownOnDevice(RouteSlot slot) const;
  int Endpoint();

  ClientFleet& fleet_;
  Ipv4Endpoint relay_;
  std::mt19937_64& random_;
  Findings& findings_;

  std::array<std::optional<Route>, kRouteSlotCount> slots_;
  uint32_t channelMask_ = 0;             // bit c-1: channel c in use
  uint32_t releasedSinceSelection_ = 0;  // slots whose blocks must read zero
  SelectedDevice device_;
  std::optional<PendingRequest> request_;
  std::optional<PendingRelease> release_;
  bool uncertain_ = false;
  Counters counters_;
};

}  // namespace halvyn::testing::soak
