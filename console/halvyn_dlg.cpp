#include "console/halvyn_dlg.h"

#include <time.h>

#include <cassert>
#include <charconv>
#include <ostream>

#include "console/log_lines.h"
#include "platform/ipv4.h"
#include "relay/client_table.h"
#include "relay/relay_server.h"
#include "routes/route_state.h"

namespace halvyn {

namespace {

int64_t CoarseMonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

constexpr std::string_view kPortRefusal = "Enter a positive integer.";

// The two entries of the STUN server box when the window opens.
const std::array<std::string, 2> kInitialStunServers = {"stun.l.google.com", "stun.cloudflare.com"};

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

CHalvynDlg::CHalvynDlg(WindowParts parts, WindowMessageQueue& window, const TickClock& clock,
                       Options options)
    : clientTable_(parts.clientTable),
      relayServer_(parts.relayServer),
      routeState_(parts.routeState),
      routeProgrammer_(parts.routeProgrammer),
      deviceSocket_(parts.deviceSocket),
      deviceWriter_(parts.deviceWriter),
      deviceLinkCounters_(parts.deviceLinkCounters),
      deviceMap_(parts.deviceMap),
      stunClient_(parts.stunClient),
      deviceLinkWorkers_(parts.deviceLinkWorkers),
      window_(window),
      clock_(clock),
      options_(std::move(options)) {
  startedAt_ = WallClockMs();
  // A burst of log lines is flushed and shown once, when the queue runs empty.
  window_.SetIdleHandler([this] { FlushLog(); });
}

CHalvynDlg::~CHalvynDlg() {
  // Workers blocked handing a notice to the window return once it has ended.
  window_.End();
  window_.SetIdleHandler(nullptr);
  FlushLogLines();
}

void CHalvynDlg::AssertOnWindowThread() const {
  assert(window_.IsWindowThread());
}

void CHalvynDlg::MarkChanged() {
  ++changeCount_;
  if (onChanged_) onChanged_();
}

void CHalvynDlg::OnInitDialog() {
  AssertOnWindowThread();
  stunServers_.assign(kInitialStunServers.begin(), kInitialStunServers.end());
  UpdateData(false);
  LoadPublicAddressFile();
  controls_.stunServer = stunServers_.front();
  if (options_.startNetwork) {
    InitLocalNetwork();  // its failures show their own messages; the window stays up
  } else {
    UpdateData(false);
  }
}

void CHalvynDlg::PutValuesInControls() {
  controls_.localAddress = DottedText(HostToNetworkOrder(localAddress_));
  controls_.relayPort = std::to_string(relayPort_);
  controls_.publicAddress = publicAddressText_;
  MarkChanged();
}

bool CHalvynDlg::UpdateData(bool fromControls) {
  AssertOnWindowThread();
  if (!fromControls) {
    PutValuesInControls();
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

bool CHalvynDlg::RunCommand(ConsoleCommand command, const ControlInput& input, int row) {
  AssertOnWindowThread();
  if (ended_) return false;
  if (input.localAddress) controls_.localAddress = *input.localAddress;
  if (input.relayPort) controls_.relayPort = *input.relayPort;
  if (input.stunServer) controls_.stunServer = *input.stunServer;
  const ActivityBefore before = BeforeCommand(command);
  const bool ran = RunCommandHandler(command, row);
  AfterCommand(command, row, before);
  return ran;
}

bool CHalvynDlg::RunCommandHandler(ConsoleCommand command, int row) {
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
      OnGetPublicIp();
      return true;
    case ConsoleCommand::kSelectDevice:
      SelectDevice(row);
      return true;
  }
  return false;
}

void CHalvynDlg::OnStartStop() {
  AssertOnWindowThread();
  const bool start = startStopCaption_ == kStartCaption;
  UpdateData(true);  // a refused port leaves the last accepted one in use
  if (start) {
    if (const int error = relayServer_.Start(uint16_t(relayPort_))) {
      ShowMessageBox("bind() failed " + std::to_string(error) + "\n");
      return;
    }
    startStopCaption_ = kStopCaption;
    relayStartedAt_ = WallClockMs();
  } else {
    StopRelayServer();
    startStopCaption_ = kStartCaption;
    relayStartedAt_ = 0;
  }
  MarkChanged();
}

void CHalvynDlg::StopRelayServer() {
  relayServer_.Stop();
}

void CHalvynDlg::OnExit() {
  AssertOnWindowThread();
  if (startStopCaption_ == kStopCaption) {
    StopRelayServer();
    startStopCaption_ = kStartCaption;
    relayStartedAt_ = 0;
  }
  EndWindow();
}

void CHalvynDlg::OnClose() {
  AssertOnWindowThread();
  deviceLinkWorkers_.StopDiscovery();
  routeState_.ClearRouteMap();
  OnExit();
}

void CHalvynDlg::EndWindow() {
  FlushLogLines();
  ended_ = true;
  MarkChanged();
  window_.End();
}

void CHalvynDlg::OnClearClients() {
  AssertOnWindowThread();
  remoteDevices_.Clear();
  loginTimes_.clear();
  clientTable_.Clear();
  routeState_.ClearRouteMap();
  UpdateData(false);
}

void CHalvynDlg::OnClearMessages() {
  AssertOnWindowThread();
  messageLog_.Clear();
  UpdateData(false);
}

void CHalvynDlg::OnDismissMessage() {
  AssertOnWindowThread();
  if (messageBoxes_.empty()) return;
  messageBoxes_.pop_front();
  MarkChanged();
}

void CHalvynDlg::ShowMessageBox(std::string text) {
  AssertOnWindowThread();
  lastError_ = text.ends_with('\n') ? text.substr(0, text.size() - 1) : text;
  lastErrorTime_ = WallClockMs();
  for (MessageBox& waiting : messageBoxes_) {
    if (waiting.text == text) {
      ++waiting.count;
      MarkChanged();
      return;
    }
  }
  if (options_.errorOut)
    *options_.errorOut << text << (text.ends_with('\n') ? "" : "\n") << std::flush;
  messageBoxes_.push_back({std::move(text)});
  MarkChanged();
}

void CHalvynDlg::AppendLog(std::string_view text) {
  AssertOnWindowThread();
  messageLog_.Append(text, WallClockMs());
  if (options_.logOut) {
    std::string_view line = text;
    if (line.ends_with("\r\n")) line.remove_suffix(2);
    *options_.logOut << line << '\n';
  }
  // The coarse clock (a few ms of resolution) is read without a timer read:
  // at hundreds of thousands of lines per second, the precise clocks cost a
  // few per cent of the process.
  const int64_t nowMs = CoarseMonotonicMs();
  if (!logUnflushed_) {
    logUnflushed_ = true;
    firstUnflushedMs_ = nowMs;
  }
  // Outside a running queue (start-up, tests) nothing else would flush.
  if (!window_.running() || nowMs - firstUnflushedMs_ >= kLogFlushMs) FlushLog();
}

void CHalvynDlg::FlushLog() {
  AssertOnWindowThread();
  FlushLogLines();
}

void CHalvynDlg::FlushLogLines() {
  if (!logUnflushed_) return;
  logUnflushed_ = false;
  if (options_.logOut) options_.logOut->flush();
  PutValuesInControls();
}

void CHalvynDlg::OnClientLogin(const ClientRecord* record) {
  AssertOnWindowThread();
  if (!record) return;
  // The relay added the client before it waited for this notice; a Clear
  // clients handled meanwhile has emptied the table, and the list follows it.
  if (clientTable_.Find(record->name())) {
    remoteDevices_.Add(record->name());
    loginTimes_[std::string(record->name())] = WallClockMs();
  }
  AppendLog(LoginLine(*record));
}

void CHalvynDlg::OnClientLogout(const ClientRecord& record, bool timeout) {
  AssertOnWindowThread();
  if (remoteDevices_.Remove(record.name())) loginTimes_.erase(std::string(record.name()));
  if (timeout) {
    relayServer_.BroadcastClientList();
    AppendLog(TimeoutLine(record));
  } else {
    AppendLog(LogoutLine(record));
  }
}

void CHalvynDlg::OnForwardConnect() {
  AssertOnWindowThread();
  AppendLog(kForwardConnectLine);
}

void CHalvynDlg::OnClientInfo(const ClientRecord& record) {
  AssertOnWindowThread();
  AppendLog(ClientInfoLine(record));
}

WindowView CHalvynDlg::View(bool withLog) const {
  AssertOnWindowThread();
  WindowView view;
  view.version = changeCount_;
  view.title = kTitle;
  view.startStop = startStopCaption_;
  view.controls = controls_;
  view.remoteDevices = remoteDevices_.entries();
  if (withLog) view.messageLog = messageLog_.text();
  view.logEpoch = messageLog_.epoch();
  view.logEnd = messageLog_.end();
  for (const DeviceListRow& row : lanDeviceRows_) view.lanDevices.push_back(row.columns);
  view.forwardRoutes = forwardRoutes_.rows();
  view.stunServers = stunServers_;
  for (const MessageBox& box : messageBoxes_) {
    view.messageBoxes.push_back(box.text);
    view.messageBoxCounts.push_back(box.count);
  }
  if (withLog) view.logTimes = messageLog_.LineTimes();
  FillStatus(view);
  view.lanInterface = lanInterface_;
  return view;
}

}  // namespace halvyn
