#include "console/halvyn_dlg.h"

#include <cassert>
#include <charconv>
#include <ostream>

#include "console/log_lines.h"
#include "console/window_relay_notices.h"
#include "platform/ipv4.h"
#include "publicaddress/public_address_file.h"

namespace halvyn {

namespace {

constexpr std::string_view kPortRefusal = "Enter a positive integer.";

// The two entries of the STUN server box when the window opens.
const std::array<std::string, 2> kInitialStunServers = {"stun.l.google.com",
                                                         "stun.cloudflare.com"};

// An unsigned decimal number that fits 32 bits, white space around it allowed.
std::optional<uint32_t> ParseUnsignedDecimal(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::nullopt;
  const auto last = text.find_last_not_of(" \t");
  text = text.substr(first, last - first + 1);
  uint32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

CHalvynDlg::CHalvynDlg(ClientTable& clientTable, WindowMessageQueue& window,
                       const TickClock& clock, Options options)
    : clientTable_(clientTable),
      window_(window),
      options_(options),
      notices_(std::make_unique<WindowRelayNotices>(*this, window)),
      relayServer_(std::make_unique<RelayServer>(clientTable, *notices_, nullptr, clock, window,
                                                 options.relayTiming)) {}

CHalvynDlg::~CHalvynDlg() = default;

RelayNotices& CHalvynDlg::relayNotices() { return *notices_; }

void CHalvynDlg::AssertOnWindowThread() const { assert(window_.IsWindowThread()); }

void CHalvynDlg::MarkChanged() {
  if (onChanged_) onChanged_();
}

void CHalvynDlg::OnInitDialog() {
  AssertOnWindowThread();
  stunServers_.assign(kInitialStunServers.begin(), kInitialStunServers.end());
  UpdateData(false);
  LoadPublicAddressFile();
  controls_.stunServer = stunServers_.front();
  UpdateData(false);
  MarkChanged();
}

bool CHalvynDlg::UpdateData(bool fromControls) {
  if (!fromControls) {
    controls_.localAddress = DottedText(HostToNetworkOrder(localAddress_));
    controls_.relayPort = std::to_string(relayPort_);
    controls_.publicAddress = publicAddressText_;
    MarkChanged();
    return true;
  }
  // The IP address control only ever holds four fields; text that is not a
  // dotted address leaves the value as it was.
  if (auto address = ParseDotted(controls_.localAddress))
    localAddress_ = NetworkToHostOrder(*address);
  const std::optional<uint32_t> port = ParseUnsignedDecimal(controls_.relayPort);
  if (!port) {
    ShowMessageBox(std::string(kPortRefusal));
    return false;
  }
  relayPort_ = *port;
  publicAddressText_ = controls_.publicAddress;
  return true;
}

bool CHalvynDlg::RunCommand(ConsoleCommand command, const ControlInput& input, int /*row*/) {
  AssertOnWindowThread();
  if (ended_) return false;
  if (input.localAddress) controls_.localAddress = *input.localAddress;
  if (input.relayPort) controls_.relayPort = *input.relayPort;
  if (input.stunServer) controls_.stunServer = *input.stunServer;
  switch (command) {
    case ConsoleCommand::kStartStop:
      OnStartStop();
      return true;
    case ConsoleCommand::kExit:
      OnExit();
      return true;
    case ConsoleCommand::kClose:
      OnClose();
      return true;
    case ConsoleCommand::kClearClients:
      OnClearClients();
      return true;
    case ConsoleCommand::kClearMessages:
      OnClearMessages();
      return true;
    case ConsoleCommand::kDismissMessage:
      OnDismissMessage();
      return true;
    case ConsoleCommand::kAbout:
      return true;  // the About box holds no state: the console draws it
    case ConsoleCommand::kGetPublicIp:
    case ConsoleCommand::kSelectDevice:
      return false;
  }
  return false;
}

void CHalvynDlg::LoadPublicAddressFile() {
  if (auto contents = halvyn::LoadPublicAddressFile(kPublicAddressFileName)) {
    publicAddressText_ = std::move(contents->publicAddressText);
    relayPort_ = contents->relayPort;
  }
}

void CHalvynDlg::OnStartStop() {
  const bool start = startStopCaption_ == kStartCaption;
  UpdateData(true);  // a refused port leaves the last accepted one in use
  if (start) {
    if (const int error = relayServer_->Start(uint16_t(relayPort_))) {
      ShowMessageBox("bind() failed " + std::to_string(error) + "\n");
      return;
    }
    startStopCaption_ = kStopCaption;
  } else {
    StopRelayServer();
    startStopCaption_ = kStartCaption;
  }
  MarkChanged();
}

void CHalvynDlg::StopRelayServer() { relayServer_->Stop(); }

void CHalvynDlg::OnExit() {
  if (startStopCaption_ == kStopCaption) {
    StopRelayServer();
    startStopCaption_ = kStartCaption;
  }
  EndWindow();
}

void CHalvynDlg::OnClose() { OnExit(); }

void CHalvynDlg::EndWindow() {
  ended_ = true;
  MarkChanged();
  window_.End();
}

void CHalvynDlg::OnClearClients() {
  remoteDevices_.Clear();
  clientTable_.Clear();
  UpdateData(false);
}

void CHalvynDlg::OnClearMessages() {
  messageLog_.Clear();
  UpdateData(false);
}

void CHalvynDlg::OnDismissMessage() {
  if (messageBoxes_.empty()) return;
  messageBoxes_.pop_front();
  MarkChanged();
}

void CHalvynDlg::ShowMessageBox(std::string text) {
  if (options_.errorOut) *options_.errorOut << text << (text.ends_with('\n') ? "" : "\n") << std::flush;
  messageBoxes_.push_back(std::move(text));
  MarkChanged();
}

void CHalvynDlg::AppendLog(std::string_view text) {
  messageLog_.Append(text);
  if (options_.logOut) {
    std::string_view line = text;
    if (line.ends_with("\r\n")) line.remove_suffix(2);
    *options_.logOut << line << '\n' << std::flush;
  }
  UpdateData(false);
}

void CHalvynDlg::OnClientLogin(const ClientRecord* record) {
  if (!record) return;
  remoteDevices_.Add(record->name());
  AppendLog(LoginLine(*record));
}

void CHalvynDlg::OnClientLogout(const ClientRecord& record, bool timeout) {
  remoteDevices_.Remove(record.name());
  if (timeout) {
    relayServer_->BroadcastClientList();
    AppendLog(TimeoutLine(record));
  } else {
    AppendLog(LogoutLine(record));
  }
}

void CHalvynDlg::OnForwardConnect() { AppendLog(kForwardConnectLine); }

void CHalvynDlg::OnClientInfo(const ClientRecord& record) { AppendLog(ClientInfoLine(record)); }

WindowView CHalvynDlg::View(bool withLog) const {
  WindowView view;
  view.title = kTitle;
  view.startStop = startStopCaption_;
  view.controls = controls_;
  view.remoteDevices = remoteDevices_.entries();
  if (withLog) view.messageLog = messageLog_.text();
  view.logEpoch = messageLog_.epoch();
  view.logEnd = messageLog_.end();
  view.lanDevices = lanDeviceRows_;
  view.forwardRoutes = forwardRouteRows_;
  view.stunServers = stunServers_;
  view.messageBoxes.assign(messageBoxes_.begin(), messageBoxes_.end());
  return view;
}

}  // namespace halvyn
