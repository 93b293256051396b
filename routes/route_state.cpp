#include "routes/route_state.h"

#include <algorithm>

#include "routes/route_allocation.h"

namespace halvyn {

namespace {

// The channel bits a record holds; channel numbers outside 1..32 hold none.
uint32_t ChannelBitsOf(const CRouteInfo& record) {
  const ChannelList channels = record.tx_chans();
  const unsigned count = std::min<unsigned>(record.tx_chan_count(), kMaxRouteChannels);
  uint32_t bits = 0;
  for (unsigned i = 0; i < count; ++i) {
    const uint8_t channel = channels[i];
    if (channel >= 1 && channel <= kForwardChannelCount) bits |= 1u << (channel - 1);
  }
  return bits;
}

}  // namespace

std::optional<std::string> FindRouteStateFault(const RouteStateSnapshot& state) {
  uint32_t used = 0;
  for (RouteSlot slot = 0; slot < kRouteSlotCount; ++slot) {
    const CRouteInfo& record = state.routeRecords[size_t(slot)];
    const std::string name = "slot " + std::to_string(slot);
    if ((state.routeSlotMask & (1u << slot)) == 0) {
      if (!record.IsZero()) return name + " is free but its record is not zero";
      continue;
    }
    const unsigned count = record.tx_chan_count();
    if (count == 0 || count > unsigned(kMaxRouteChannels)) {
      return name + " holds " + std::to_string(count) + " channels";
    }
    const ChannelList channels = record.tx_chans();
    for (unsigned i = 0; i < count; ++i) {
      const uint8_t channel = channels[i];
      if (channel < 1 || channel > kForwardChannelCount) {
        return name + " lists channel " + std::to_string(channel);
      }
      const uint32_t bit = 1u << (channel - 1);
      if ((state.channelMask & bit) == 0) {
        return name + " holds channel " + std::to_string(channel) + " not set in channelMask";
      }
      if ((used & bit) != 0) return "channel " + std::to_string(channel) + " is in two slots";
      used |= bit;
    }
  }
  if (used != state.channelMask) return "channelMask holds channels no slot owns";
  for (const auto& [slotPort, slot] : state.routeMap) {
    if (SlotOfPort(slotPort) != slot) {
      return "routeMap entry " + std::to_string(slotPort) + " names slot " + std::to_string(slot);
    }
  }
  return std::nullopt;
}

std::optional<RouteGrant> RouteState::AllocateRoute(const CRouteInfo& request) {
  MutexLock lock(mutex_);
  const uint8_t k = request.tx_chan_count();
  const auto allocation = FindRouteAllocation(routeSlotMask_, channelMask_, k);
  if (!allocation) return std::nullopt;

  RouteGrant grant;
  grant.slot = allocation->slot;
  grant.slotPort = SlotPort(grant.slot);
  grant.channels = allocation->channels;
  grant.channelCount = k;
  grant.deviceAddress = selectedDeviceAddress_;

  CRouteInfo& record = routeRecords_[size_t(grant.slot)];
  record = request;
  record.set_tx_chans(grant.channels);
  channelMask_ |= ChannelBitsOf(record);
  routeSlotMask_ |= 1u << grant.slot;
  routeMap_[grant.slotPort] = grant.slot;
  return grant;
}

std::optional<CRouteInfo> RouteState::BeginRelease(RouteSlot slot) {
  if (!IsRouteSlot(slot)) return std::nullopt;
  MutexLock lock(mutex_);
  if (releasePendingMask_ & (1u << slot)) return std::nullopt;
  releasePendingMask_ |= 1u << slot;
  return routeRecords_[size_t(slot)];
}

CRouteInfo RouteState::ReleaseRoute(RouteSlot slot) {
  if (!IsRouteSlot(slot)) return CRouteInfo();
  MutexLock lock(mutex_);
  releasePendingMask_ &= ~(1u << slot);
  CRouteInfo& record = routeRecords_[size_t(slot)];
  const CRouteInfo before = record;
  routeSlotMask_ &= ~(1u << slot);
  channelMask_ &= ~ChannelBitsOf(record);
  record = CRouteInfo();
  return before;
}

void RouteState::ResetForDeviceSelection(uint32_t selectedDeviceAddress) {
  MutexLock lock(mutex_);
  routeSlotMask_ = 0;
  channelMask_ = 0;
  routeRecords_.fill(CRouteInfo());
  selectedDeviceAddress_ = selectedDeviceAddress;
}

void RouteState::ClearRouteMap() {
  MutexLock lock(mutex_);
  routeMap_.clear();
}

CRouteInfo RouteState::Record(RouteSlot slot) const {
  if (!IsRouteSlot(slot)) return CRouteInfo();
  MutexLock lock(mutex_);
  return routeRecords_[size_t(slot)];
}

std::optional<CRouteInfo> RouteState::LookupRoute(uint16_t slotPort) const {
  MutexLock lock(mutex_);
  const auto entry = routeMap_.find(slotPort);
  if (entry == routeMap_.end()) return std::nullopt;
  return routeRecords_[size_t(entry->second)];
}

uint32_t RouteState::selectedDeviceAddress() const {
  MutexLock lock(mutex_);
  return selectedDeviceAddress_;
}

uint32_t RouteState::routeSlotMask() const {
  MutexLock lock(mutex_);
  return routeSlotMask_;
}

uint32_t RouteState::channelMask() const {
  MutexLock lock(mutex_);
  return channelMask_;
}

RouteStateSnapshot RouteState::Snapshot() const {
  MutexLock lock(mutex_);
  return RouteStateSnapshot{routeSlotMask_, channelMask_, routeRecords_, routeMap_};
}

bool RouteState::InvariantHolds() const {
  return !FindRouteStateFault(Snapshot()).has_value();
}

}  // namespace halvyn
