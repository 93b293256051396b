// The route bookkeeping: which slots and channels are taken, the record of
// every slot, and the map from slot port to record.
//
//   routeSlotMask  bit n set: slot n allocated
//   channelMask    bit j set: channel j + 1 in use
//   routeRecords   32 CRouteInfo, record n belongs to slot n, zero while free
//   routeMap       slot port -> slot; set by every allocation, kept by a release,
//                  emptied only by ClearRouteMap (Clear clients, window close)
//
// The relay receive thread allocates; the window thread releases, resets at
// device selection, empties the map and looks routes up. One lock of its own
// makes each of those operations whole. It is never held across a register
// write, a pause or a window message: every operation copies what it needs and
// returns. Any thread may call any member.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/mutex.h"
#include "platform/thread_annotations.h"
#include "routes/route_info.h"
#include "routes/route_slot.h"

namespace halvyn {

struct RouteGrant {
  RouteSlot slot = 0;
  uint16_t slotPort = 0;
  ChannelList channels{};  // also the record's tx_chans
  uint8_t channelCount = 0;
  uint32_t deviceAddress = 0;  // the selected device when the grant was made, network order
};

struct RouteStateSnapshot {
  uint32_t routeSlotMask = 0;
  uint32_t channelMask = 0;
  std::array<CRouteInfo, kRouteSlotCount> routeRecords{};
  std::map<uint16_t, RouteSlot> routeMap;
};

// What is wrong with the bookkeeping, or none when it is sound: every
// allocated slot's channels are set in channelMask, no channel belongs to two
// slots, channelMask holds nothing else, free slots have zero records, and
// every routeMap entry names its own slot.
std::optional<std::string> FindRouteStateFault(const RouteStateSnapshot& state);

class RouteState {
 public:
  // Takes the lowest free slot and the tx_chan_count lowest free channels for
  // the request body, stores the body as the slot's record with the allocated
  // tx_chans and sets the routeMap entry. None, with nothing changed, when
  // refused (see FindRouteAllocation).
  std::optional<RouteGrant> AllocateRoute(const CRouteInfo& request);

  // A release of the slot (0..31) is on its way to the window: marks it
  // pending and returns a copy of the slot's record, or none when a release
  // of this slot is already pending (a repeated "x" adds no work).
  std::optional<CRouteInfo> BeginRelease(RouteSlot slot);

  // Frees the slot and the channels its record lists and zeroes the record;
  // the routeMap entry stays, and the slot's release is no longer pending.
  // Returns the record as it stood before. A slot outside 0..31 changes
  // nothing and gives a zero record.
  CRouteInfo ReleaseRoute(RouteSlot slot);

  // Device selection: every slot and channel free, every record zero; the new
  // device is where later grants are programmed. routeMap stays.
  void ResetForDeviceSelection(uint32_t selectedDeviceAddress);

  // Removes every routeMap entry; nothing else changes.
  void ClearRouteMap();

  // A copy of the slot's record (zero outside 0..31).
  CRouteInfo Record(RouteSlot slot) const;
  // A copy of the record the routeMap entry of slotPort refers to, or none.
  std::optional<CRouteInfo> LookupRoute(uint16_t slotPort) const;

  uint32_t selectedDeviceAddress() const;
  uint32_t routeSlotMask() const;
  uint32_t channelMask() const;
  RouteStateSnapshot Snapshot() const;
  // FindRouteStateFault on a snapshot taken under the lock.
  bool InvariantHolds() const;

 private:
  mutable Mutex mutex_;
  uint32_t routeSlotMask_ GUARDED_BY(mutex_) = 0;
  uint32_t channelMask_ GUARDED_BY(mutex_) = 0;
  std::array<CRouteInfo, kRouteSlotCount> routeRecords_ GUARDED_BY(mutex_){};
  std::map<uint16_t, RouteSlot> routeMap_ GUARDED_BY(mutex_);
  uint32_t selectedDeviceAddress_ GUARDED_BY(mutex_) = 0;
  uint32_t releasePendingMask_ GUARDED_BY(mutex_) = 0;  // bit n: slot n's release is queued
};

}  // namespace halvyn
