// What the relay server counts for the metrics page: one set per server, given
// to it by its owner, growing across every Start and Stop.
//
// received and dropped are counted on the relay receive thread only (the
// datagram path: OwnedCounter, no locked instruction); the send, login,
// logout and timeout counts on whichever thread sends or sweeps.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/counters.h"

namespace halvyn {

// Why the relay port dropped a datagram without handling it.
enum class RelayDrop : uint8_t {
  kTooShort,           // fewer than 120 bytes
  kBadMagic,           // does not begin "pr"
  kUnhandledLetter,    // a command letter the relay port does not handle
  kUnknownName,        // "f", "i", "k" or "p" naming no logged-in client
  kShortRouteRequest,  // "r" below 228 bytes, "x" without a whole slot port
  kBadSlotPort,        // "x" naming no route slot
  kWrongSource,        // "f", "i" or "k" from another address than the name's stored one
  kReleasePending,     // "x" for a slot whose release is still on its way
  kOversized,          // longer than the receive buffer: never read whole
};
inline constexpr size_t kRelayDropReasons = 9;

// The per-address limits (see relay_limits.h), in the order of RelayLimit.
inline constexpr size_t kRelayLimits = 4;

struct RelayCounters {
  // Accepted relay packets by command letter (byte 2), before handling.
  std::array<OwnedCounter, 256> received;
  std::array<OwnedCounter, kRelayDropReasons> dropped;
  // Replies: "g", forwarded "p", "u", "v", "t", "s". Broadcasts: "h" and "i",
  // one datagram per destination. Bytes are UDP payload bytes.
  Counter replies, replyBytes;
  Counter broadcasts, broadcastBytes;
  Counter sendFailures;
  Counter logins, logouts, timeouts;
  // Refusals by each per-address limit (RelayLimit); lists merged into a later one.
  std::array<Counter, kRelayLimits> limited;
  Counter listsMerged;
  // Route replies not sent because they were addressed to 0.0.0.0 or port 0.
  Counter unaddressedReplies;
  // The relay socket's local port while a run has one (0 when stopped), so the
  // metrics page can read the kernel's drops for it.
  std::atomic<uint32_t> boundPort{0};
  // The receive buffer the kernel granted the relay socket (0 when stopped).
  std::atomic<uint32_t> receiveBufferBytes{0};

  void Drop(RelayDrop reason) { dropped[size_t(reason)].Add(); }
  // One reply of `bytes`, sent or refused.
  void Reply(bool sent, size_t bytes) {
    if (!sent) {
      sendFailures.Add();
      return;
    }
    replies.Add();
    replyBytes.Add(bytes);
  }
  // One datagram of `bytes` for `destinations` clients, `sent` of them accepted.
  void Broadcast(size_t sent, size_t destinations, size_t bytes) {
    broadcasts.Add(sent);
    broadcastBytes.Add(sent * bytes);
    if (destinations > sent) sendFailures.Add(destinations - sent);
  }
};

}  // namespace halvyn
