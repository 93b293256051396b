// CHalvynDlg: the main window. It holds what the operator sees (the bound
// values, the controls, the message log, the boxes, the activity and the
// status), runs every handler and operator command, and knows nothing of
// HTTP: the console server reads it through View and drives it through
// RunCommand (ConsoleWindow). The subsystems its handlers drive are assembled
// and owned elsewhere and handed to it as WindowParts.
//
// Window thread only, and every handler asserts it. Worker threads reach it
// through the message queue (see WindowRelayNotices).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "console/console_command.h"
#include "console/console_window.h"
#include "console/message_log.h"
#include "console/remote_device_list.h"
#include "console/window_parts.h"
#include "console/window_view.h"
#include "devicelink/device_map.h"
#include "platform/ipv4.h"
#include "platform/mac_address.h"
#include "platform/message_queue.h"
#include "platform/tick_count.h"
#include "relay/client_record.h"
#include "routes/forward_route_rows.h"
#include "routes/route_slot.h"

namespace halvyn {

class CHalvynDlg final : public ConsoleWindow {
 public:
  static constexpr std::string_view kTitle = "Corvex v1.93";
  static constexpr std::string_view kStartCaption = "Start";
  static constexpr std::string_view kStopCaption = "Stop";
  static constexpr uint32_t kDefaultRelayPort = 7002;
  // Log lines reach logOut and the console at most this long after they were appended.
  static constexpr int kLogFlushMs = 100;

  struct Options {
    // Network start-up (adapters, discovery, the device socket on 19002);
    // tests of the window alone turn it off.
    bool startNetwork = true;
    std::ostream* logOut = nullptr;    // every log line is echoed here (stdout in halvyn)
    std::ostream* errorOut = nullptr;  // message boxes are echoed here (stderr in halvyn)
    // The LAN adapter by name; empty: chosen from the adapters' state.
    std::string lanInterface = {};
  };

  CHalvynDlg(WindowParts parts, WindowMessageQueue& window, const TickClock& clock,
             Options options);
  // Ends the window if it has not ended and flushes the log. Any thread once
  // the window thread no longer serves messages (the workers that send to the
  // window are stopped by their owner).
  ~CHalvynDlg();
  CHalvynDlg(const CHalvynDlg&) = delete;
  CHalvynDlg& operator=(const CHalvynDlg&) = delete;

  // Dialog initialisation: the first data exchange towards the controls and
  // the start-up steps. Runs on the window thread before it serves messages.
  void OnInitDialog();

  // Operator commands. input is what the operator typed with the command; it
  // goes into the controls first. Returns false for a command the window
  // cannot run (a select-device row that does not exist is not an error).
  bool RunCommand(ConsoleCommand command, const ControlInput& input, int row) override;

  // Button and window-command handlers.
  void OnStartStop();
  void OnExit();
  void OnClose();
  void OnClearClients();
  void OnClearMessages();
  void OnDismissMessage();
  void OnGetPublicIp();
  // A double-click on row `row` of the LAN device list (negative: not on a row).
  void SelectDevice(int row);

  // Network start-up, the last step of the dialog initialisation: adapters,
  // gateway MAC, discovery, the device socket. False when the device socket
  // could not be bound or registered for readable notices.
  bool InitLocalNetwork();

  // Notices from the device link, the STUN socket and the route subsystem.
  void OnDeviceAnnounce(Ipv4Endpoint source, std::span<const uint8_t> datagram);
  void RefreshDeviceList();
  void OnStunReadable();
  void OnRoutePortLearned(uint16_t slotPort, uint16_t learntPort);
  void OnRouteReleased(RouteSlot slot);

  // Console notices from the relay server.
  void OnClientLogin(const ClientRecord* record);
  void OnClientLogout(const ClientRecord& record, bool timeout);
  void OnForwardConnect();
  void OnClientInfo(const ClientRecord& record);

  // Once a second: the ages the console shows (last heard, uptime) change with
  // time alone, so the window counts as changed while there is any to show.
  void OnLifeSignTick();
  // An operator action for the activity list and errorOut; never the message log.
  void NoteActivity(std::string text);

  // Appends a line to the log and writes it to logOut. The lines of a burst
  // are flushed to logOut and shown together (see FlushLog), at the latest
  // kLogFlushMs after the first of them.
  void AppendLog(std::string_view text);
  // Flushes logOut and tells the console, once for every line appended since
  // the last flush. Runs whenever the window's queue runs empty.
  void FlushLog();
  // A message box with an OK button: queued for the console, echoed to errorOut
  // (a box identical to one still waiting only adds to its count).
  void ShowMessageBox(std::string text);

  // The data exchange: towards the controls (false) or from them (true).
  // Reading stops at a refused control and returns false.
  bool UpdateData(bool fromControls);

  WindowView View(bool withLog = true) const override;
  const MessageLog& messageLog() const override { return messageLog_; }
  bool ended() const { return ended_; }
  uint32_t relayPort() const { return relayPort_; }
  uint32_t localAddress() const { return localAddress_; }
  const std::string& publicAddressText() const { return publicAddressText_; }

  // The two setters run before the window thread serves messages or after it
  // has ended (start-up and shutdown of the process), when nothing else reads
  // what they set; they do not assert the thread for that reason.
  // Unix milliseconds for the times the console shows; the system clock until set.
  void SetWallClock(std::function<int64_t()> wallClock) { wallClock_ = std::move(wallClock); }
  // Called on the window thread after every change of what View shows.
  void SetChangeListener(std::function<void()> listener) { onChanged_ = std::move(listener); }

 private:
  // server.txt in the working directory, when it can be read: the public
  // address and the relay port.
  void LoadPublicAddressFile();
  void StopRelayServer();
  // The start-up line on errorOut that names the chosen LAN adapter.
  std::string LanInterfaceLine() const;
  void SavePublicAddressFile();
  void EndWindow();
  // FlushLog's work and the data exchange towards the controls, without the
  // thread check: also run by the destructor, after the window thread.
  void FlushLogLines();
  void PutValuesInControls();
  void MarkChanged();
  void AssertOnWindowThread() const;
  int64_t WallClockMs() const;
  bool RunCommandHandler(ConsoleCommand command, int row);
  // The status strip, life signs and activity of View (halvyn_dlg_status.cpp).
  void FillStatus(WindowView& view) const;
  // What an operator command is about to change, for its activity entry.
  struct ActivityBefore {
    bool running = false;
    int clients = 0;
    size_t routes = 0;
    size_t logLines = 0;
  };
  ActivityBefore BeforeCommand(ConsoleCommand command);
  void AfterCommand(ConsoleCommand command, int row, const ActivityBefore& before);

  // The subsystems the handlers drive (owned by the server's assembly).
  ClientTable& clientTable_;
  RelayServer& relayServer_;
  RouteState& routeState_;
  const RouteProgrammer& routeProgrammer_;
  UdpSocket& deviceSocket_;
  DeviceSocketWriter& deviceWriter_;
  DeviceLinkCounters& deviceLinkCounters_;
  DeviceMap& deviceMap_;
  StunClient& stunClient_;
  DeviceLinkWorkers& deviceLinkWorkers_;

  WindowMessageQueue& window_;
  const TickClock& clock_;
  Options options_;
  std::function<void()> onChanged_;
  uint64_t changeCount_ = 0;  // MarkChanged calls: the version of what View shows
  std::function<int64_t()> wallClock_;

  // Bound values (the data exchange moves them to and from the controls).
  uint32_t localAddress_ = 0;  // host order: first octet most significant
  uint32_t relayPort_ = kDefaultRelayPort;
  MessageLog messageLog_;
  std::string publicAddressText_;

  // The device link as network start-up found it, and the selected device.
  LanInterfaceView lanInterface_;
  std::string gatewayText_;
  MacAddress localMac_{};
  MacAddress gatewayMac_{};
  MacAddress selectedDeviceMac_{};
  uint32_t selectedDeviceAddress_ = 0;  // network order
  std::vector<DeviceListRow> lanDeviceRows_;
  ForwardRouteRows forwardRoutes_;

  // Controls.
  std::string startStopCaption_{kStartCaption};
  ControlTexts controls_;
  RemoteDeviceList remoteDevices_;
  std::vector<std::string> stunServers_;
  // Boxes waiting for OK, oldest first. A box identical to one still waiting
  // is merged into it and counted, so a flood of one error stays one box.
  struct MessageBox {
    std::string text;
    uint64_t count = 1;
  };
  std::deque<MessageBox> messageBoxes_;
  bool ended_ = false;
  // Lines appended since the last FlushLog, and when the first of them came
  // (monotonic milliseconds, CoarseMonotonicMs).
  bool logUnflushed_ = false;
  int64_t firstUnflushedMs_ = 0;

  // What the console shows beside the controls (Unix milliseconds, 0: never).
  static constexpr size_t kMaxActivity = 200;
  int64_t startedAt_ = 0;
  int64_t relayStartedAt_ = 0;
  std::string lastError_;
  int64_t lastErrorTime_ = 0;
  int64_t stunRequestedAt_ = 0;
  int64_t stunAnsweredAt_ = 0;
  std::unordered_map<std::string, int64_t> loginTimes_;   // by name, since the login notice
  std::array<int64_t, kRouteSlotCount> routeListedAt_{};  // by slot, when its row was added
  std::deque<ActivityEntry> activity_;
};

}  // namespace halvyn
