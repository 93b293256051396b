// What the load generator sends to each kind of server and how it reads the
// answers.
//
// Relay requests ("p" naming the sender, "k", "e") are built with the relay's
// own packet layout. The stamp rides in the record's client bytes (packet
// offset kRelayStampOffset), which the relay passes on unchanged; in a STUN
// binding request it is the transaction id. The echo server gets the same
// bytes as the relay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_clock.h"
#include "bench/client_set.h"
#include "platform/ipv4.h"
#include "relay/relay_packet.h"

namespace halvyn::bench {

enum class Target { kHalvyn, kEcho, kStun, kDrain, kFanout };

std::optional<Target> ParseTarget(std::string_view text);

// Packet offset of the stamp in a relay record form: the first of the
// client's own 48 trailing bytes of the record.
constexpr size_t kRelayStampOffset = relay_packet::kRecordOffset + client_record::kClientTailOffset;
// A "p" naming the sender: the record form and the target name from offset 120.
constexpr size_t kConnectRequestSize = 128;
constexpr size_t kStunRequestSize = 20;
constexpr size_t kMaxRequestSize = kConnectRequestSize;

// Client i's name: prefix and four digits ("c0007").
std::string ClientName(std::string_view prefix, size_t i);

// A 120-byte record form with this letter and name, every other byte 0.
void WriteRecordForm(uint8_t* out, uint8_t letter, std::string_view name);

// The request/reply request for target (Halvyn: "p" naming name; echo: the
// same bytes; STUN: a binding request). Returns its size.
size_t WriteRequest(Target target, uint8_t* out, std::string_view name, Stamp stamp);

// The stamp of a valid reply from target to client name, or nothing.
std::optional<Stamp> ReadReply(Target target, std::span<const uint8_t> bytes, size_t length,
                               std::string_view name);

// Logs every client of the set in to the relay at server under its name
// (prefix + index), one after the other, each confirmed by its "g"; lists
// that arrive meanwhile are read and dropped. False when a login was not
// confirmed within a few tries.
bool LogInAll(ClientSet& clients, std::string_view prefix, Ipv4Endpoint server);

// Registers every socket of the set with the fan-out baseline ('R', answered
// by 'r'), one after the other. False when one was not answered.
bool RegisterAll(ClientSet& clients, Ipv4Endpoint server);

}  // namespace halvyn::bench
