// The commands of halvyn-client's scripted mode, one per line:
//
//   login                          "e" with the client's record
//   logout                         "f"
//   keepalive [P2P_IP P2P_PORT]    "k"; with the two arguments the record's
//                                  p2p address changes first (and stays)
//   info P2P_IP P2P_PORT           "i" after changing the record's p2p address
//   connect NAME                   "p" naming NAME
//   route TXNAME TXIP:TXPORT TXCHANS RXNAME RXIP:RXPORT RXCHANS [TXPARAM]
//                                  "r"; an endpoint written "-" is the address
//                                  at which the last "h" list (or "g") showed
//                                  that name; TXPARAM is decimal or 0x-hex
//   probe SLOTPORT                 "w" to the server's address at SLOTPORT
//   release SLOTPORT               "x" for the route of that slot port
//   wait SECONDS                   pause (fractions allowed) while datagrams
//                                  keep being received and printed
//   expect LETTER [SECONDS]        wait (default 3 s) for a datagram with that
//                                  letter not yet claimed by an earlier expect
//   echo [TEXT...]                 print "echo TEXT" (a marker for scripts)
//   quit                           end
//
// Blank lines and lines starting with "#" do nothing. Words are separated by
// spaces or tabs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ipv4.h"

namespace halvyn {

struct RouteArguments {
  std::string txName;
  std::optional<Ipv4Endpoint> tx;  // none: "-", take it from the last list
  uint8_t txChanCount = 0;
  std::string rxName;
  std::optional<Ipv4Endpoint> rx;
  uint8_t rxChanCount = 0;
  uint16_t txParam = 0;
};

struct ClientCommand {
  enum class Kind {
    kNothing,
    kLogin,
    kLogout,
    kKeepAlive,
    kInfo,
    kConnect,
    kRoute,
    kProbe,
    kRelease,
    kWait,
    kExpect,
    kEcho,
    kQuit,
  };
  Kind kind = Kind::kNothing;
  std::optional<Ipv4Endpoint> p2p;  // keepalive, info: address as the wire's four bytes
  std::string text;                 // connect: target name; expect: letter; echo: text
  RouteArguments route;
  uint16_t port = 0;          // probe, release: the slot port
  uint32_t milliseconds = 0;  // wait; expect's time limit
};

// Parses one line; on a mistake returns nothing and sets error to a short text.
std::optional<ClientCommand> ParseClientCommand(std::string_view line, std::string& error);

// Groups command-line words into command lines: a command word starts a new
// command and takes the words after it up to its largest number of arguments,
// stopping early at a command word once it has the fewest it needs.
// {"login", "connect", "beta", "wait", "1"} gives {"login", "connect beta", "wait 1"}.
std::vector<std::string> GroupCommandWords(const std::vector<std::string>& words);

}  // namespace halvyn
