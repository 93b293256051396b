#include "routes/route_blocks.h"

#include <algorithm>

#include "platform/byte_order.h"

namespace halvyn {

namespace {

constexpr uint8_t kChannelEntryFlags = 0xC0;
constexpr uint8_t kReceiveMarker0 = 0x67;
constexpr uint8_t kReceiveMarker1 = 0x30;
constexpr uint8_t kTemplateCountBias = 95;
constexpr uint8_t kTemplateMarker = 103;
constexpr uint8_t kTemplateTrailer = 0x01;
constexpr uint16_t kEtherTypeIpv4 = 0x0800;
constexpr uint8_t kIpv4VersionAndLength = 0x45;
constexpr uint8_t kTypeOfServiceExpedited = 0xB8;  // DSCP 46: audio goes first
constexpr uint16_t kIdentification = 0x0201;
constexpr uint16_t kDontFragment = 0x4000;
constexpr uint8_t kTimeToLive = 128;
constexpr uint8_t kProtocolUdp = 17;
constexpr uint16_t kUdpChecksumUnused = 0xFFFF;
constexpr unsigned kBytesPerChannel = 144;  // one channel's share of the payload

uint8_t ChannelEntry(uint8_t channel) {
  return uint8_t(kChannelEntryFlags | uint8_t(channel - 1));
}

}  // namespace

std::array<uint8_t, 8> ChannelEntryBytes(const ChannelList& channels, unsigned count) {
  std::array<uint8_t, 8> value{};  // byte i = entry i
  const unsigned used = std::min<unsigned>(count, kMaxRouteChannels);
  for (unsigned i = 0; i < used; ++i) value[i] = ChannelEntry(channels[i]);
  // Least significant register first, each register high byte first.
  std::array<uint8_t, 8> wire{};
  for (unsigned r = 0; r < 4; ++r) {
    wire[2 * r] = value[2 * r + 1];
    wire[2 * r + 1] = value[2 * r];
  }
  return wire;
}

std::array<uint8_t, kReceiveBlockSize> BuildReceiveBlock(uint32_t deviceAddress, RouteSlot slot,
                                                         uint8_t k, const ChannelList& channels,
                                                         uint16_t txParam) {
  std::array<uint8_t, kReceiveBlockSize> block{};
  uint8_t octets[4];
  StoreNetworkAddress(octets, deviceAddress);
  block[2] = octets[2];
  block[3] = octets[3];
  StoreBe16(&block[6], SlotPort(slot));
  const auto entries = ChannelEntryBytes(channels, k);
  std::copy(entries.begin(), entries.end(), &block[8]);
  block[16] = kReceiveMarker0;
  block[17] = kReceiveMarker1;
  StoreBe16(&block[22], txParam);
  return block;
}

std::array<uint8_t, kRouteSummaryBlockSize> BuildRouteSummaryBlock(uint32_t deviceAddress,
                                                                   RouteSlot slot, uint8_t k,
                                                                   uint32_t txIp) {
  std::array<uint8_t, kRouteSummaryBlockSize> block{};
  block[0] = k;
  block[1] = uint8_t(slot);
  StoreLe16(&block[2], SlotPort(slot));
  StoreNetworkAddress(&block[4], deviceAddress);
  StoreNetworkAddress(&block[8], txIp);
  return block;
}

std::array<uint8_t, kFrameHeaderSize> BuildFrameHeader(const TransmitTemplateInputs& in) {
  std::array<uint8_t, kFrameHeaderSize> header{};
  const unsigned payload = kBytesPerChannel * in.rxChanCount;
  std::copy(in.gatewayMac.begin(), in.gatewayMac.end(), &header[0]);
  std::copy(in.deviceMac.begin(), in.deviceMac.end(), &header[6]);
  StoreBe16(&header[12], kEtherTypeIpv4);
  header[14] = kIpv4VersionAndLength;
  header[15] = kTypeOfServiceExpedited;
  StoreBe16(&header[16], uint16_t(40 + payload));  // IPv4 + UDP headers + 12-byte preamble
  StoreBe16(&header[18], kIdentification);
  StoreBe16(&header[20], kDontFragment);
  header[22] = kTimeToLive;
  header[23] = kProtocolUdp;
  // 24..25: the header checksum stays 0.
  StoreNetworkAddress(&header[26], in.deviceAddress);
  StoreNetworkAddress(&header[30], in.rxIp);
  StoreBe16(&header[34], SlotPort(in.slot));
  StoreBe16(&header[36], in.learntPort);
  StoreBe16(&header[38], uint16_t(20 + payload));  // UDP header + 12-byte preamble
  StoreBe16(&header[40], kUdpChecksumUnused);
  return header;
}

std::array<uint8_t, kTransmitTemplateSize> BuildTransmitTemplate(const TransmitTemplateInputs& in) {
  std::array<uint8_t, kTransmitTemplateSize> block{};
  const auto entries = ChannelEntryBytes(in.channels, in.rxChanCount);
  std::copy(entries.begin(), entries.end(), &block[0]);
  block[8] = uint8_t(in.rxChanCount + kTemplateCountBias);
  block[9] = kTemplateMarker;
  const auto header = BuildFrameHeader(in);
  std::copy(header.begin(), header.end(), &block[16]);
  block[59] = in.rxChanCount;
  block[60] = kTemplateTrailer;
  return block;
}

}  // namespace halvyn
