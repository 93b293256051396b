// The STUN client behind Get Public IP: sends one Binding Request to every
// address of the chosen server and reads the answers that come back on the
// same socket. It keeps no state between calls: a press sends and forgets,
// answers are not matched to requests (any Binding Success Response counts).
//
// Window thread only (the socket it reads is the window's).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/datagram_sender.h"
#include "platform/ipv4.h"
#include "platform/udp_socket.h"
#include "publicaddress/stun_counters.h"
#include "publicaddress/stun_message.h"

namespace halvyn {

// Every IPv4 address (network order) of a name in the resolver's order, or
// nullopt when it does not resolve.
using HostResolver = std::function<std::optional<std::vector<uint32_t>>(std::string_view)>;

enum class StunSendOutcome {
  kSent,        // a request went to port 3478 of every address (send results not examined)
  kUnresolved,  // the server text did not resolve; nothing was sent
};

// Answers are read into a buffer of this size; a longer datagram is dropped.
inline constexpr size_t kStunReceiveBufferSize = 512;

// The message box text for a server text that does not resolve.
std::string InvalidUrlMessage(std::string_view serverText);

class StunClient {
 public:
  // The system resolver and a generator seeded from std::random_device.
  // Requests and answers are counted in counters, which must outlive the client.
  explicit StunClient(StunCounters& counters);
  // For tests: a given resolver and source of transaction-ID draws.
  StunClient(StunCounters& counters, HostResolver resolver, RandomDraw draw);

  // One press of Get Public IP: builds a fresh Binding Request, resolves
  // serverText exactly as given (no trimming) and sends the same request from
  // sender to port 3478 of each address, in the resolver's order. There is no
  // retransmission and no timer. On kUnresolved the window shows
  // InvalidUrlMessage(serverText).
  StunSendOutcome SendBindingRequests(const DatagramSender& sender, std::string_view serverText);

  // Reads one datagram from socket without waiting (one per readable notice)
  // and returns its mapped address. nullopt when nothing was waiting, the
  // receive failed, the datagram was longer than kStunReceiveBufferSize, or it
  // is not a Binding Success Response with an IPv4 mapped address; the
  // datagram is then dropped without a trace (device traffic on the same
  // socket included).
  std::optional<Ipv4Endpoint> ReadAnswer(const UdpSocket& socket) const;

 private:
  StunCounters& counters_;
  HostResolver resolver_;
  RandomDraw draw_;
};

}  // namespace halvyn
