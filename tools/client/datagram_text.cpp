#include "tools/client/datagram_text.h"

#include "platform/wire_reader.h"
#include "relay/client_record.h"
#include "relay/relay_client_codec.h"
#include "relay/relay_packet.h"
#include "routes/route_info.h"
#include "routes/route_packets.h"

namespace halvyn {

namespace {

class Line {
 public:
  explicit Line(std::string head) : text_(std::move(head)) {}
  Line& Add(std::string_view key, std::string_view value) {
    text_ += ' ';
    text_ += key;
    text_ += '=';
    text_ += value;
    return *this;
  }
  Line& Add(std::string_view key, uint64_t value) { return Add(key, std::to_string(value)); }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

std::string AddressText(uint32_t networkOrder) {
  return DottedText(networkOrder);
}

std::string P2pText(const ClientRecord& record) {
  return EndpointText({record.p2p_ip(), record.p2p_port()});
}

void AddRoute(Line& line, const CRouteInfo& route, bool withChannels) {
  line.Add("tx_name", FieldText(route.tx_name()))
      .Add("tx", EndpointText(route.tx_endpoint()))
      .Add("tx_chan_count", route.tx_chan_count());
  if (withChannels) {
    std::string channels;
    const ChannelList list = route.tx_chans();
    for (size_t i = 0; i < std::min<size_t>(route.tx_chan_count(), list.size()); ++i) {
      if (i > 0) channels += '/';
      channels += std::to_string(list[i]);
    }
    line.Add("tx_chans", channels);
  }
  line.Add("rx_name", FieldText(route.rx_name()))
      .Add("rx", EndpointText(route.rx_endpoint()))
      .Add("rx_chan_count", route.rx_chan_count())
      .Add("tx_param", route.tx_param());
}

// Adds the fields of a well-formed datagram; false when it is too short for
// its letter's form.
bool AddFields(Line& line, Direction direction, RelayPacketView datagram) {
  const bool sent = direction == Direction::kSent;
  const bool routeForm = datagram.isRouteForm();
  const ClientRecord record = datagram.record();
  const uint8_t letter = datagram.letter();
  switch (letter) {
    case 'e':
    case 'f':
    case 'k':
      line.Add("name", FieldText(record.name())).Add("p2p", P2pText(record));
      return true;
    case 'g':
      line.Add("name", FieldText(record.name()))
          .Add("ip", AddressText(record.ip()))
          .Add("port", record.port())
          .Add("p2p", P2pText(record))
          .Add("last_seen", record.last_seen());
      return true;
    case 'i':
      line.Add("name", FieldText(record.name())).Add("p2p", P2pText(record));
      if (!sent) {
        line.Add("ip", AddressText(record.ip()))
            .Add("port", record.port())
            .Add("last_seen", record.last_seen());
      }
      return true;
    case 'h': {
      const ClientListView list(datagram.bytes());
      const size_t count = list.size();
      std::string names, addresses;
      for (size_t k = 0; k < count; ++k) {
        const ClientRecord entry = list.record(k);
        if (k > 0) {
          names += ',';
          addresses += ',';
        }
        names += FieldText(entry.name());
        addresses += EndpointText({entry.ip(), entry.port()});
      }
      line.Add("count", count).Add("names", names).Add("addrs", addresses);
      return true;
    }
    case 'p':
      if (sent) {
        line.Add("name", FieldText(record.name()))
            .Add("to", FieldText(WireReader(datagram.bytes())
                                     .TextAt(relay_packet::kTargetNameOffset, datagram.size())));
      } else {
        line.Add("from", FieldText(record.name())).Add("p2p", P2pText(record));
      }
      return true;
    case 'r':
      if (!routeForm) return false;
      line.Add("name", FieldText(record.name()));
      AddRoute(line, *RouteBodyOf(datagram.bytes()), false);
      return true;
    case 'u':
    case 'v': {
      if (!routeForm) return false;
      const CRouteInfo route = *RouteBodyOf(datagram.bytes());
      line.Add("slot_port", letter == 'u' ? route.rx_port() : route.tx_port());
      AddRoute(line, route, false);
      return true;
    }
    case 't':
    case 's':
      if (!routeForm) return false;
      AddRoute(line, *RouteBodyOf(datagram.bytes()), true);
      return true;
    case 'x': {
      const auto slotPort = ReleaseSlotPort(datagram.bytes());
      if (!slotPort) return false;
      line.Add("name", FieldText(record.name())).Add("slot_port", *slotPort);
      return true;
    }
    case 'w':
      line.Add("name", FieldText(record.name()));
      return true;
    default:
      return true;
  }
}

}  // namespace

std::string FieldText(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x21 && byte <= 0x7E && c != '\\' && c != ',' && c != '=') {
      out += c;
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

std::string EndpointText(Ipv4Endpoint endpoint) {
  return DottedText(endpoint.address) + ":" + std::to_string(endpoint.port);
}

std::string DescribeDatagram(Direction direction, std::span<const uint8_t> datagram,
                             Ipv4Endpoint peer) {
  const char* head = direction == Direction::kSent ? "sent " : "recv ";
  const char* peerKey = direction == Direction::kSent ? "dst" : "src";
  std::string text;
  if (const auto packet = RelayPacketView::Of(datagram)) {
    const char letter = char(packet->letter());
    Line line(head + FieldText(std::string_view(&letter, 1)));
    if (AddFields(line, direction, *packet)) {
      line.Add("size", datagram.size()).Add(peerKey, EndpointText(peer));
      return line.Take();
    }
  }
  Line junk(std::string(head) + "junk");
  junk.Add("size", datagram.size()).Add(peerKey, EndpointText(peer));
  return junk.Take();
}

}  // namespace halvyn
