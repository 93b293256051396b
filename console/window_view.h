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

// What the operator sees beside the controls: life signs, times and the state
// of the relay, all read on the window thread. Times are Unix milliseconds,
// 0 for "never"; ages are milliseconds.

// One entry of the remote-device list with what the client table holds for it
// (known false when the table no longer has the name).
struct RemoteDeviceDetail {
  std::string name;
  bool known = false;
  std::string address;     // public ip:port as the relay sees it
  std::string p2pAddress;  // p2p_ip:p2p_port as the client reported it
  uint32_t lastHeardMs = 0;
  int64_t loginTime = 0;
};

// One row of the forward route list: when it was listed and whether each end
// is still logged in.
struct RouteDetail {
  int64_t since = 0;
  bool txOnline = false;
  bool rxOnline = false;
};

// An operator command as it was run (never part of the message log).
struct ActivityEntry {
  int64_t time = 0;
  std::string text;
};

struct WindowStatus {
  int64_t now = 0;
  int64_t startedAt = 0;
  bool relayRunning = false;
  uint16_t relayBoundPort = 0;  // the port actually bound, 0 when stopped
  int64_t relayStartedAt = 0;
  int clientsOnline = 0;
  int routesInUse = 0;         // route slots allocated
  std::string selectedDevice;  // "name (ip)" of the selected LAN device
  std::string lastError;       // the latest message box, without its line end
  int64_t lastErrorTime = 0;
  int64_t stunRequestedAt = 0;
  int64_t stunAnsweredAt = 0;
};

// The LAN adapter that network start-up chose: its name, its IPv4 address
// (dotted) and its MAC ("00-11-22-AA-BB-FF"). The name is empty when none was
// chosen.
struct LanInterfaceView {
  std::string name;
  std::string address = "0.0.0.0";
  std::string mac = "00-00-00-00-00-00";
};

struct WindowView {
  // Counts the window's changes: a view taken later never has a smaller one,
  // so a reader that gets views by two ways can tell the older.
  uint64_t version = 0;
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

  std::vector<int64_t> logTimes;                        // one per line of messageLog (with it only)
  std::vector<RemoteDeviceDetail> remoteDeviceDetails;  // parallel to remoteDevices
  std::vector<RouteDetail> routeDetails;                // parallel to forwardRoutes
  std::vector<ActivityEntry> activity;                  // oldest first
  WindowStatus status;
  LanInterfaceView lanInterface;
};

}  // namespace halvyn
