#include "bench/traffic.h"

#include <cstdio>
#include <cstring>

#include "platform/wire_reader.h"
#include "platform/wire_writer.h"
#include "publicaddress/stun_message.h"
#include "relay/client_record.h"
#include "relay/relay_client_codec.h"
#include "relay/relay_packet.h"

namespace halvyn::bench {

std::optional<Target> ParseTarget(std::string_view text) {
  if (text == "halvyn") return Target::kHalvyn;
  if (text == "echo") return Target::kEcho;
  if (text == "stun") return Target::kStun;
  if (text == "drain") return Target::kDrain;
  if (text == "fanout") return Target::kFanout;
  return std::nullopt;
}

std::string ClientName(std::string_view prefix, size_t i) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04zu", i);
  return std::string(prefix) + digits;
}

void WriteRecordForm(uint8_t* out, uint8_t letter, std::string_view name) {
  relay_packet::WriteRecordForm(
      std::span<uint8_t, relay_packet::kRecordFormSize>(out, relay_packet::kRecordFormSize), letter,
      0, NamedRecord(name));
}

size_t WriteRequest(Target target, uint8_t* out, std::string_view name, Stamp stamp) {
  if (target == Target::kStun) {
    using namespace stun_message;
    WireWriter(std::span(out, kStunRequestSize))
        .Be16(kTypeOffset, kBindingRequest)
        .Be16(kLengthOffset, 0)
        .Be32(kCookieOffset, kMagicCookie);
    WriteStamp(out + kTransactionIdOffset, stamp);
    return kStunRequestSize;
  }
  WriteConnectRequest(std::span(out, kConnectRequestSize), NamedRecord(name), name);
  WriteStamp(out + kRelayStampOffset, stamp);
  return kConnectRequestSize;
}

std::optional<Stamp> ReadReply(Target target, std::span<const uint8_t> bytes, size_t length,
                               std::string_view name) {
  using namespace relay_packet;
  switch (target) {
    case Target::kStun: {
      const WireReader reply(bytes.first(std::min(length, bytes.size())));
      if (length < stun_message::kHeaderSize ||
          reply.Be16(stun_message::kTypeOffset) != stun_message::kBindingSuccessResponse ||
          reply.Be32(stun_message::kCookieOffset) != stun_message::kMagicCookie)
        return std::nullopt;
      return ReadStamp(bytes.data() + stun_message::kTransactionIdOffset);
    }
    case Target::kEcho:
      if (length != kConnectRequestSize) return std::nullopt;
      return ReadStamp(bytes.data() + kRelayStampOffset);
    case Target::kHalvyn: {
      // The forward is the first 120 bytes of the request, letter still "p".
      if (length != kRecordFormSize) return std::nullopt;
      const auto forward = RelayPacketView::Of(bytes.first(length));
      if (!forward || forward->letter() != kConnect || forward->record().name() != name)
        return std::nullopt;
      return ReadStamp(bytes.data() + kRelayStampOffset);
    }
    default:
      return std::nullopt;
  }
}

namespace {

// Sends request from client i until its answer (accepted by isAnswer) comes,
// reading and dropping whatever else arrives meanwhile.
template <typename IsAnswer>
bool AskUntilAnswered(ClientSet& clients, size_t i, std::span<const uint8_t> request,
                      Ipv4Endpoint server, IsAnswer&& isAnswer) {
  bool answered = false;
  for (int attempt = 0; attempt < 5 && !answered; ++attempt) {
    clients.socket(i).SendTo(request, server);
    const uint64_t deadline = NowNs() + 500'000'000;
    while (!answered && NowNs() < deadline) {
      clients.Poll(10, [&](size_t index, std::span<uint8_t> bytes, size_t length) {
        if (index == i && isAnswer(bytes, length)) answered = true;
      });
    }
  }
  return answered;
}

}  // namespace

bool RegisterAll(ClientSet& clients, Ipv4Endpoint server) {
  const uint8_t join[1] = {'R'};
  for (size_t i = 0; i < clients.size(); ++i) {
    if (!AskUntilAnswered(clients, i, join, server, [](std::span<uint8_t> bytes, size_t length) {
          return length == 1 && bytes[0] == 'r';
        }))
      return false;
  }
  clients.Drain(20, 5000);
  return true;
}

bool LogInAll(ClientSet& clients, std::string_view prefix, Ipv4Endpoint server) {
  uint8_t login[relay_packet::kRecordFormSize];
  for (size_t i = 0; i < clients.size(); ++i) {
    WriteRecordForm(login, relay_packet::kLogin, ClientName(prefix, i));
    // A login whose "e" was lost is sent again; one whose "g" was lost cannot
    // be confirmed (the name is then present), which fails the run.
    if (!AskUntilAnswered(clients, i, login, server, [](std::span<uint8_t> bytes, size_t length) {
          return length == relay_packet::kRecordFormSize &&
                 bytes[relay_packet::kCommandOffset] == relay_packet::kLoginAccepted;
        }))
      return false;
  }
  clients.Drain(20, 5000);
  return true;
}

}  // namespace halvyn::bench
