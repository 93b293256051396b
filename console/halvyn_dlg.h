// CHalvynDlg: the main window. It holds the state the subsystems share, runs
// every handler and operator command, and knows nothing of HTTP: the console
// server reads it through View and drives it through RunCommand.
//
// Window thread only, except where a member says otherwise. Worker threads
// reach it through the message queue (see WindowRelayNotices).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

#include "console/console_command.h"
#include "console/message_log.h"
#include "console/remote_device_list.h"
#include "console/window_view.h"
#include "platform/message_queue.h"
#include "platform/tick_count.h"
#include "relay/client_table.h"
#include "relay/relay_server.h"

namespace halvyn {

class WindowRelayNotices;

class CHalvynDlg {
 public:
  static constexpr std::string_view kTitle = "Corvex v1.93";
  static constexpr std::string_view kStartCaption = "Start";
  static constexpr std::string_view kStopCaption = "Stop";
  static constexpr uint32_t kDefaultRelayPort = 7002;

  struct Options {
    RelayTiming relayTiming;
    std::ostream* logOut = nullptr;    // every log line is echoed here (stdout in halvyn)
    std::ostream* errorOut = nullptr;  // message boxes are echoed here (stderr in halvyn)
  };

  CHalvynDlg(ClientTable& clientTable, WindowMessageQueue& window, const TickClock& clock,
             Options options);
  ~CHalvynDlg();
  CHalvynDlg(const CHalvynDlg&) = delete;
  CHalvynDlg& operator=(const CHalvynDlg&) = delete;

  // Dialog initialisation: the first data exchange towards the controls and
  // the start-up steps. Runs on the window thread before it serves messages.
  void OnInitDialog();

  // Operator commands. input is what the operator typed with the command; it
  // goes into the controls first. Returns false for a command the window
  // cannot run (a select-device row that does not exist is not an error).
  bool RunCommand(ConsoleCommand command, const ControlInput& input, int row);

  // Button and window-command handlers.
  void OnStartStop();
  void OnExit();
  void OnClose();
  void OnClearClients();
  void OnClearMessages();
  void OnDismissMessage();

  // Console notices from the relay server.
  void OnClientLogin(const ClientRecord* record);
  void OnClientLogout(const ClientRecord& record, bool timeout);
  void OnForwardConnect();
  void OnClientInfo(const ClientRecord& record);

  void AppendLog(std::string_view text);
  // A message box with an OK button: queued for the console, echoed to errorOut.
  void ShowMessageBox(std::string text);

  // The data exchange: towards the controls (false) or from them (true).
  // Reading stops at a refused control and returns false.
  bool UpdateData(bool fromControls);

  WindowView View(bool withLog = true) const;
  const MessageLog& messageLog() const { return messageLog_; }
  bool ended() const { return ended_; }
  uint32_t relayPort() const { return relayPort_; }
  uint32_t localAddress() const { return localAddress_; }
  const std::string& publicAddressText() const { return publicAddressText_; }
  RelayServer& relayServer() { return *relayServer_; }
  RelayNotices& relayNotices();

  // Called on the window thread after every change of what View shows.
  void SetChangeListener(std::function<void()> listener) { onChanged_ = std::move(listener); }

 private:
  // server.txt in the working directory, when it can be read: the public
  // address and the relay port.
  void LoadPublicAddressFile();
  void StopRelayServer();
  void EndWindow();
  void MarkChanged();
  void AssertOnWindowThread() const;

  ClientTable& clientTable_;
  WindowMessageQueue& window_;
  Options options_;
  std::unique_ptr<WindowRelayNotices> notices_;
  std::unique_ptr<RelayServer> relayServer_;
  std::function<void()> onChanged_;

  // Bound values (the data exchange moves them to and from the controls).
  uint32_t localAddress_ = 0;  // host order: first octet most significant
  uint32_t relayPort_ = kDefaultRelayPort;
  MessageLog messageLog_;
  std::string publicAddressText_;

  // Controls.
  std::string startStopCaption_{kStartCaption};
  ControlTexts controls_;
  RemoteDeviceList remoteDevices_;
  std::vector<ListRow> lanDeviceRows_;
  std::vector<ListRow> forwardRouteRows_;
  std::vector<std::string> stunServers_;
  std::deque<std::string> messageBoxes_;
  bool ended_ = false;
};

}  // namespace halvyn
