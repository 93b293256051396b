// halvyn-client's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ipv4.h"

namespace halvyn {

struct ClientOptions {
  std::string serverHost = "127.0.0.1";  // a name or dotted text, resolved by main
  uint16_t serverPort = 7002;
  Ipv4Endpoint bind;  // local address and port; 0.0.0.0:0 lets the system choose
  std::string name;
  Ipv4Endpoint p2p;  // the record's p2p address until a keepalive or info changes it
  uint32_t keepAliveIntervalMs = 0;   // 0: no keep-alives in the background
  uint32_t timeoutMs = 3000;          // check: the time limit of each step
  bool verbose = false;               // check: also print every datagram
  std::vector<std::string> commands;  // command lines; empty: read them from stdin
  bool check = false;                 // the single command "check"
  bool help = false;
  bool version = false;
};

// Parses argv (without the program name); on a mistake returns nothing and
// sets error to a line for the user.
std::optional<ClientOptions> ParseClientOptions(const std::vector<std::string>& args,
                                                std::string& error);

extern const char kClientUsage[];

}  // namespace halvyn
