#include "bench/traffic.h"

#include <cstdio>
#include <cstring>

#include "relay/client_record.h"
#include "relay/relay_packet.h"

namespace halvyn::bench {

namespace {

constexpr uint16_t kStunBindingRequest = 0x0001;
constexpr uint16_t kStunBindingSuccess = 0x0101;
constexpr uint32_t kStunMagicCookie = 0x2112A442;
constexpr size_t kStunTransactionOffset = 8;

}  // namespace

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
  using namespace relay_packet;
  std::memset(out, 0, kRecordFormSize);
  WriteHeader(out, letter, 0);
  ClientRecord record;
  record.set_name(name);
  std::memcpy(out + kRecordOffset, record.bytes.data(), ClientRecord::kSize);
}

size_t WriteRequest(Target target, uint8_t* out, std::string_view name, Stamp stamp) {
  if (target == Target::kStun) {
    StoreBe16(out, kStunBindingRequest);
    StoreBe16(out + 2, 0);
    StoreBe32(out + 4, kStunMagicCookie);
    WriteStamp(out + kStunTransactionOffset, stamp);
    return kStunRequestSize;
  }
  WriteRecordForm(out, relay_packet::kConnect, name);
  WriteStamp(out + kRelayStampOffset, stamp);
  std::memset(out + relay_packet::kTargetNameOffset, 0,
              kConnectRequestSize - relay_packet::kTargetNameOffset);
  std::memcpy(out + relay_packet::kTargetNameOffset, name.data(),
              std::min(name.size(), kConnectRequestSize - relay_packet::kTargetNameOffset - 1));
  return kConnectRequestSize;
}

std::optional<Stamp> ReadReply(Target target, std::span<const uint8_t> bytes, size_t length,
                               std::string_view name) {
  using namespace relay_packet;
  switch (target) {
    case Target::kStun:
      if (length < 20 || LoadBe16(bytes.data()) != kStunBindingSuccess ||
          LoadBe32(bytes.data() + 4) != kStunMagicCookie)
        return std::nullopt;
      return ReadStamp(bytes.data() + kStunTransactionOffset);
    case Target::kEcho:
      if (length != kConnectRequestSize) return std::nullopt;
      return ReadStamp(bytes.data() + kRelayStampOffset);
    case Target::kHalvyn: {
      // The forward is the first 120 bytes of the request, letter still "p".
      if (length != kRecordFormSize || bytes[0] != kMagic0 || bytes[1] != kMagic1 ||
          bytes[kCommandOffset] != kConnect)
        return std::nullopt;
      if (ClientRecord::FromBytes(bytes.data() + kRecordOffset).name() != name) return std::nullopt;
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
