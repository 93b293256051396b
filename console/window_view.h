// What the operator sees of the window: every control's current text.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halvyn {

using ListRow = std::array<std::string, 6>;

// The texts of the controls the operator can type into. They differ from the
// window's values until a data exchange reads them (or puts the values back).
struct ControlTexts {
  std::string localAddress = "0.0.0.0";  // IP address control 1000
  std::string relayPort = "7002";        // port box 1005
  std::string stunServer;                // STUN server box 1011 (its edit field)
  std::string publicAddress;             // public address box 1012 (read-only)
};

// Typed text that arrives with an operator command, not yet in the controls.
struct ControlInput {
  std::optional<std::string> localAddress;
  std::optional<std::string> relayPort;
  std::optional<std::string> stunServer;
};

struct WindowView {
  std::string title;
  std::string startStop;
  ControlTexts controls;
  std::vector<std::string> remoteDevices;
  std::string messageLog;
  uint64_t logEpoch = 0;
  uint64_t logEnd = 0;
  std::vector<ListRow> lanDevices;
  std::vector<ListRow> forwardRoutes;
  std::vector<std::string> stunServers;
  std::vector<std::string> messageBoxes;
  std::vector<uint64_t> messageBoxCounts;  // beside messageBoxes: how often each was raised
};

}  // namespace halvyn
