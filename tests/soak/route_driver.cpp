#include "tests/soak/route_driver.h"

#include <algorithm>
#include <bit>

#include "platform/byte_order.h"
#include "relay/relay_client_codec.h"
#include "relay/relay_packet.h"
#include "routes/route_blocks.h"
#include "routes/route_packets.h"
#include "tests/soak/soak_clock.h"
#include "tests/soak/soak_settings.h"

namespace halvyn::testing::soak {

namespace {

const uint32_t kLoopback = NetworkAddress(127, 0, 0, 1);

std::string SlotText(RouteSlot slot) {
  return "slot " + std::to_string(slot);
}

std::string ChannelsText(const ChannelList& channels, int k) {
  std::string text;
  for (int i = 0; i < k; ++i) text += (i ? "/" : "") + std::to_string(channels[size_t(i)]);
  return text;
}

std::string EndpointText(uint16_t port) {
  return "127.0.0.1 : " + std::to_string(port);
}

}  // namespace

RouteDriver::RouteDriver(ClientFleet& fleet, Ipv4Endpoint relay, std::mt19937_64& random,
                         Findings& findings)
    : fleet_(fleet), relay_(relay), random_(random), findings_(findings) {}

int RouteDriver::Endpoint() {
  return 1 + int(random_() % kRouteEndpointCount);
}

int RouteDriver::RouteCount() const {
  return int(
      std::count_if(slots_.begin(), slots_.end(), [](const auto& r) { return r.has_value(); }));
}

std::optional<RouteSlot> RouteDriver::AnyRoute() const {
  for (RouteSlot s = 0; s < kRouteSlotCount; ++s)
    if (slots_[size_t(s)]) return s;
  return std::nullopt;
}

bool RouteDriver::Idle(int64_t now) const {
  if (request_ || release_) return false;
  return std::all_of(slots_.begin(), slots_.end(), [&](const auto& r) {
    return !r || (r->probedAt >= 0 && now - r->probedAt > Scaled(300));
  });
}

void RouteDriver::OnDeviceSelected(const SelectedDevice& device) {
  device_ = device;
  for (auto& route : slots_) route.reset();
  channelMask_ = 0;
  releasedSinceSelection_ = 0;
  uncertain_ = false;
}

bool RouteDriver::Request(int64_t now, int k) {
  if (request_ || release_ || uncertain_) return false;
  PendingRequest pending;
  Route& route = pending.route;
  route.k = k;
  route.tx = Endpoint();
  do route.rx = Endpoint();
  while (route.rx == route.tx);
  CRouteInfo& body = route.request;
  // The bytes the server does not interpret must come back unchanged in "u" and "v".
  std::array<uint8_t, route_info::kSize> raw{};
  for (uint8_t& b : raw) b = uint8_t(random_());
  body = CRouteInfo(raw);
  body.set_tx_param(uint16_t(random_()));
  body.set_tx_ip(kLoopback);
  body.set_tx_port(fleet_.client(route.tx).socket->LocalEndpoint().port);
  body.set_tx_chan_count(uint8_t(k));
  body.set_tx_chans(ChannelList{});
  body.set_rx_ip(kLoopback);
  body.set_rx_port(fleet_.client(route.rx).socket->LocalEndpoint().port);
  body.set_rx_chan_count(uint8_t(k));
  body.set_tx_name(fleet_.client(route.tx).name);
  body.set_rx_name(fleet_.client(route.rx).name);

  // The model: lowest free slot, then the k lowest free channels.
  const int freeChannels = 32 - std::popcount(channelMask_);
  const auto freeSlot =
      std::find_if(slots_.begin(), slots_.end(), [](const auto& r) { return !r; });
  pending.expectGranted =
      k >= 1 && k <= kMaxRouteChannels && freeSlot != slots_.end() && freeChannels >= k;
  if (pending.expectGranted) {
    pending.expectSlot = RouteSlot(freeSlot - slots_.begin());
    int taken = 0;
    for (int c = 0; c < kForwardChannelCount && taken < k; ++c)
      if (!(channelMask_ & (1u << c))) route.channels[size_t(taken++)] = uint8_t(c + 1);
  }
  Datagram packet = BuildRouteRequest(fleet_.client(Endpoint()).record, body);
  pending.countByte = uint8_t(random_());
  packet[relay_packet::kCountOffset] = pending.countByte;
  pending.sentAt = now;
  fleet_.Send(Endpoint(), packet, relay_);
  request_ = std::move(pending);
  ++counters_.requests;
  return true;
}

bool RouteDriver::Release(int64_t now, RouteSlot slot) {
  if (request_ || release_ || !slots_[size_t(slot)]) return false;
  PendingRelease pending;
  pending.route = *slots_[size_t(slot)];
  pending.slot = slot;
  pending.sentAt = now;
  // Any client may release any route.
  const int sender = Endpoint();
  fleet_.Send(sender, BuildRouteRelease(fleet_.client(sender).record, SlotPort(slot)), relay_);
  slots_[size_t(slot)].reset();
  for (int i = 0; i < pending.route.k; ++i)
    channelMask_ &= ~(1u << (pending.route.channels[size_t(i)] - 1));
  releasedSinceSelection_ |= 1u << slot;
  release_ = pending;
  ++counters_.released;
  return true;
}

void RouteDriver::Step(int64_t now) {
  if (request_ || release_ || uncertain_) return;
  const int routes = RouteCount();
  // Release more often as the slots fill up, so the run visits full and empty.
  const bool release = routes > 0 && int(random_() % 40) < routes + (routes >= 24 ? 10 : 0);
  if (release) {
    for (int attempt = 0; attempt < 8; ++attempt) {
      const RouteSlot slot = RouteSlot(random_() % kRouteSlotCount);
      const auto& route = slots_[size_t(slot)];
      if (route && route->probedAt >= 0 && now - route->probedAt > Scaled(300)) {
        Release(now, slot);
        return;
      }
    }
    return;
  }
  // Now and then a count the server must refuse whatever is free.
  // Mostly small routes, so that all 32 slots fill up as well as all channels.
  const uint64_t dice = random_() % 16;
  const int k = dice == 0   ? 9 + int(random_() % 3)
                : dice < 10 ? 1
                : dice < 13 ? 2 + int(random_() % 3)
                            : 5 + int(random_() % 4);
  Request(now, k);
}

void RouteDriver::OnReply(int client, std::span<const uint8_t> datagram) {
  const uint8_t letter = datagram.size() > 2 ? datagram[2] : 0;
  if (datagram.size() != route_packet::kSize) {
    findings_.Add("a route reply is not 228 bytes",
                  std::string(1, char(letter)) + ": " + std::to_string(datagram.size()));
    return;
  }
  if (letter == route_packet::kTxReply || letter == route_packet::kRxReply) {
    if (!request_) {
      findings_.Add("a route reply came with no request in flight", std::string(1, char(letter)));
      return;
    }
    const int expected = letter == route_packet::kTxReply ? request_->route.tx : request_->route.rx;
    if (client != expected) findings_.Add("a route reply reached the wrong endpoint", "");
    auto& slot = letter == route_packet::kTxReply ? request_->u : request_->v;
    if (slot) findings_.Add("a route reply came twice", std::string(1, char(letter)));
    slot.emplace();
    std::copy(datagram.begin(), datagram.end(), slot->begin());
    if (request_->u && request_->v) Judge(NowMs());
    return;
  }
  if (letter == route_packet::kTxRelease || letter == route_packet::kRxRelease) {
    if (!release_) {
      findings_.Add("a release notice came with no release in flight", "");
      return;
    }
    const bool tx = letter == route_packet::kTxRelease;
    if (client != (tx ? release_->route.tx : release_->route.rx))
      findings_.Add("a release notice reached the wrong endpoint", SlotText(release_->slot));
    (tx ? release_->gotT : release_->gotS) = true;
    CheckNotice(*release_, datagram, letter);
  }
}

void RouteDriver::Judge(int64_t now) {
  PendingRequest pending = std::move(*request_);
  request_.reset();
  const auto& u = *pending.u;
  const auto& v = *pending.v;
  const CRouteInfo uBody = *RouteBodyOf(u);
  const CRouteInfo vBody = *RouteBodyOf(v);
  const uint16_t slotPort = uBody.rx_port();

  // Headers, the zeroed record area, and the bodies: each endpoint finds the
  // slot port in the other's port field, everything else as requested.
  bool wellFormed = vBody.tx_port() == slotPort;
  for (const auto* reply : {&u, &v}) {
    wellFormed = wellFormed && (*reply)[0] == 'p' && (*reply)[1] == 'r' &&
                 (*reply)[relay_packet::kCountOffset] == pending.countByte &&
                 std::all_of(reply->begin() + 4, reply->begin() + route_packet::kBodyOffset,
                             [](uint8_t b) { return b == 0; });
  }
  CRouteInfo expectU = pending.route.request;
  expectU.set_rx_port(slotPort);
  CRouteInfo expectV = pending.route.request;
  expectV.set_tx_port(slotPort);
  wellFormed = wellFormed && uBody == expectU && vBody == expectV;
  if (!wellFormed) findings_.Add("\"u\"/\"v\" differ from the request they answer", "");

  const bool granted = slotPort != 0;
  granted ? ++counters_.granted : ++counters_.refused;
  if (granted != pending.expectGranted) {
    findings_.Add(granted ? "a request was granted though slots or channels were full"
                          : "a request was refused though a slot and its channels were free",
                  "k=" + std::to_string(pending.route.k) + ", " + std::to_string(RouteCount()) +
                      " routes, channel mask " + std::to_string(channelMask_));
  }
  if (!granted) return;
  const std::optional<RouteSlot> slot = SlotOfPort(slotPort);
  if (!slot) {
    findings_.Add("a route was granted a port that is no slot port", std::to_string(slotPort));
    uncertain_ = true;
    return;
  }
  if (slots_[size_t(*slot)]) {
    findings_.Add("a slot was granted while another route held it", SlotText(*slot));
    uncertain_ = true;
    return;
  }
  if (pending.expectGranted && *slot != pending.expectSlot) {
    findings_.Add("a route was not given the lowest free slot",
                  SlotText(*slot) + " instead of " + SlotText(pending.expectSlot));
    uncertain_ = true;
    return;
  }
  Route route = pending.route;
  if (!pending.expectGranted) {
    uncertain_ = true;  // the model has no channels for it
    return;
  }
  for (int i = 0; i < route.k; ++i) channelMask_ |= 1u << (route.channels[size_t(i)] - 1);
  route.probeDueAt = now + Scaled(30);
  slots_[size_t(*slot)] = route;
  releasedSinceSelection_ &= ~(1u << *slot);
  counters_.mostRoutes = std::max(counters_.mostRoutes, RouteCount());
}

void RouteDriver::CheckNotice(const PendingRelease& release, std::span<const uint8_t> datagram,
                              uint8_t letter) {
  CRouteInfo expected = release.route.request;
  expected.set_tx_chans(release.route.channels);
  const CRouteInfo body = *RouteBodyOf(datagram);
  const bool headerOk =
      datagram[0] == 'p' && datagram[1] == 'r' &&
      std::all_of(datagram.begin() + 3, datagram.begin() + route_packet::kBodyOffset,
                  [](uint8_t b) { return b == 0; });
  if (!headerOk || body != expected) {
    findings_.Add("a release notice does not carry the stored record with its channels",
                  std::string(1, char(letter)) + " for " + SlotText(release.slot) + ": channels " +
                      ChannelsText(body.tx_chans(), body.tx_chan_count()) + ", expected " +
                      ChannelsText(release.route.channels, release.route.k));
  }
}

bool RouteDriver::ReleaseShownOnDevice(RouteSlot slot) const {
  const std::optional<DeviceImage> image = DeviceImage::Read(device_.imagePath);
  if (!image) return false;
  const std::vector<uint8_t> summary =
      image->Block(RouteSummaryRegister(slot), kRouteSummaryBlockSize);
  return std::all_of(summary.begin(), summary.end(), [](uint8_t b) { return b == 0; });
}

void RouteDriver::Pump(int64_t now) {
  if (request_ && now - request_->sentAt > Scaled(3000)) {
    // Replies can be lost when an endpoint's socket is full of lists; the
    // server may then hold a route the model does not know.
    ++counters_.lostReplies;
    request_.reset();
    uncertain_ = true;
  }
  if (release_) {
    if (release_->gotT && release_->gotS && release_->doneAt < 0 &&
        ReleaseShownOnDevice(release_->slot)) {
      release_->doneAt = now;
    }
    // The window thread frees slot and channels right after the last zeroing write.
    if (release_->doneAt >= 0 && now - release_->doneAt > 20) {
      release_.reset();
    } else if (now - release_->sentAt > Scaled(3000)) {
      if (!release_->gotT || !release_->gotS) {
        ++counters_.lostReplies;
      } else {
        findings_.Add("a release did not zero the device's blocks in time",
                      SlotText(release_->slot));
      }
      release_.reset();
      uncertain_ = true;
    }
  }
  for (RouteSlot s = 0; s < kRouteSlotCount; ++s) {
    auto& route = slots_[size_t(s)];
    if (!route || route->probedAt >= 0 || now < route->probeDueAt) continue;
    const ClientFleet::Client& rx = fleet_.client(route->rx);
    // The row needs both names in the table when the probe is handled.
    route->rowExpected = true;
    for (int endpoint : {route->tx, route->rx}) {
      const ClientFleet::Client& c = fleet_.client(endpoint);
      route->rowExpected = route->rowExpected && c.state == ClientFleet::State::kOnline &&
                           now - c.listedSince > Scaled(500);
    }
    route->learntPort = rx.socket->LocalEndpoint().port;
    fleet_.Send(route->rx, BuildRecordPacket(route_packet::kProbe, rx.record),
                {kLoopback, SlotPort(s)});
    route->probedAt = now;
    ++counters_.probes;
  }
}

void RouteDriver::CheckWindowRows(const nlohmann::json& rows) {
  uint32_t seen = 0;
  uint32_t channels = 0;
  for (const nlohmann::json& row : rows) {
    const std::string text = row.dump();
    if (!row.is_array() || row.size() != 6 || !row[0].is_string()) {
      findings_.Add("a forward route row is malformed", text);
      continue;
    }
    const int number = std::atoi(row[0].get<std::string>().c_str());
    const RouteSlot slot = number - 1;
    if (!IsRouteSlot(slot) || !slots_[size_t(slot)]) {
      findings_.Add("a forward route row names a slot that holds no route", text);
      continue;
    }
    if (seen & (1u << slot)) findings_.Add("two forward route rows for one slot", text);
    seen |= 1u << slot;
    const Route& route = *slots_[size_t(slot)];
    const nlohmann::json expected = {std::to_string(number),
                                     fleet_.client(route.tx).name,
                                     EndpointText(route.request.tx_port()),
                                     fleet_.client(route.rx).name,
                                     EndpointText(route.request.rx_port()),
                                     ChannelsText(route.channels, route.k)};
    if (row != expected)
      findings_.Add("a forward route row differs from its route",
                    text + " instead of " + expected.dump());
    for (int i = 0; i < route.k; ++i) {
      const uint32_t bit = 1u << (route.channels[size_t(i)] - 1);
      if (channels & bit) findings_.Add("two forward routes share a channel", text);
      channels |= bit;
    }
  }
  for (RouteSlot s = 0; s < kRouteSlotCount; ++s) {
    const auto& route = slots_[size_t(s)];
    if (route && route->rowExpected && !(seen & (1u << s)))
      findings_.Add("an active route has no forward route row", SlotText(s));
  }
}

void RouteDriver::CheckDeviceImage(const DeviceImage& image,
                                   const std::array<uint8_t, 6>& gatewayMac) {
  auto same = [](const std::vector<uint8_t>& got, const auto& want) {
    return got.size() == want.size() && std::equal(got.begin(), got.end(), want.begin());
  };
  for (RouteSlot s = 0; s < kRouteSlotCount; ++s) {
    const auto& route = slots_[size_t(s)];
    if (!route) {
      if (!(releasedSinceSelection_ & (1u << s))) continue;  // never used on this device
      for (const auto& [reg, size] : {std::pair{TransmitTemplateRegister(s), kTransmitTemplateSize},
                                      std::pair{ReceiveBlockRegister(s), kReceiveBlockSize},
                                      std::pair{RouteSummaryRegister(s), kRouteSummaryBlockSize}}) {
        const std::vector<uint8_t> block = image.Block(reg, size);
        if (!std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; }))
          findings_.Add("a released slot's block is not zero on the device",
                        SlotText(s) + " register " + std::to_string(reg));
      }
      continue;
    }
    const uint8_t k = uint8_t(route->k);
    if (!same(image.Block(ReceiveBlockRegister(s), kReceiveBlockSize),
              BuildReceiveBlock(device_.address, s, k, route->channels, route->request.tx_param())))
      findings_.Add("a route's receive block on the device differs from its route", SlotText(s));
    if (!same(image.Block(RouteSummaryRegister(s), kRouteSummaryBlockSize),
              BuildRouteSummaryBlock(device_.address, s, k, kLoopback)))
      findings_.Add("a route's summary block on the device differs from its route", SlotText(s));
    if (route->probedAt < 0) continue;
    TransmitTemplateInputs inputs;
    inputs.gatewayMac = gatewayMac;
    inputs.deviceMac = device_.mac;
    inputs.deviceAddress = device_.address;
    inputs.rxIp = kLoopback;
    inputs.learntPort = route->learntPort;
    inputs.rxChanCount = k;
    inputs.channels = route->channels;
    inputs.slot = s;
    if (!same(image.Block(TransmitTemplateRegister(s), kTransmitTemplateSize),
              BuildTransmitTemplate(inputs)))
      findings_.Add("a route's transmit template on the device differs from its route",
                    SlotText(s));
  }
}

}  // namespace halvyn::testing::soak
