// What the console shows beside the window's controls: the status strip, the
// remote devices' life signs, the routes' ages and the operator's activity.
// Window thread; the client table is read through copies (its own short lock,
// never the relay run's lock).
#include <bit>
#include <charconv>
#include <chrono>
#include <ostream>
#include <unordered_map>

#include "console/halvyn_dlg.h"
#include "platform/ipv4.h"
#include "relay/client_table.h"
#include "relay/relay_server.h"
#include "routes/route_state.h"

namespace halvyn {

namespace {

std::string EndpointText(uint32_t networkOrderAddress, uint16_t port) {
  return DottedText(networkOrderAddress) + ":" + std::to_string(port);
}

std::string Plural(size_t count, std::string_view one, std::string_view many) {
  return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

}  // namespace

int64_t CHalvynDlg::WallClockMs() const {
  if (wallClock_) return wallClock_();
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void CHalvynDlg::OnLifeSignTick() {
  AssertOnWindowThread();
  if (!ended_ && (relayServer_.running() || !remoteDevices_.entries().empty())) MarkChanged();
}

void CHalvynDlg::NoteActivity(std::string text) {
  AssertOnWindowThread();
  if (options_.errorOut) *options_.errorOut << "Operator: " << text << std::endl;
  activity_.push_back({WallClockMs(), std::move(text)});
  if (activity_.size() > kMaxActivity) activity_.pop_front();
  MarkChanged();
}

CHalvynDlg::ActivityBefore CHalvynDlg::BeforeCommand(ConsoleCommand command) {
  // Exit and close end the window: their entry goes first.
  if (command == ConsoleCommand::kExit) NoteActivity("Exit");
  if (command == ConsoleCommand::kClose) NoteActivity("Close");
  return {relayServer_.running(), clientTable_.count(), forwardRoutes_.rows().size(),
          messageLog_.lineCount()};
}

void CHalvynDlg::AfterCommand(ConsoleCommand command, int row, const ActivityBefore& before) {
  switch (command) {
    case ConsoleCommand::kStartStop:
      if (before.running)
        NoteActivity("Stop: relay server stopped");
      else if (relayServer_.running())
        NoteActivity("Start: relay server on UDP port " + std::to_string(relayServer_.boundPort()));
      else
        NoteActivity("Start: failed on port " + std::to_string(relayPort_));
      return;
    case ConsoleCommand::kClearClients:
      NoteActivity("Clear clients: " + Plural(size_t(before.clients), "client", "clients") +
                   " and " + Plural(before.routes, "route", "routes") + " forgotten");
      return;
    case ConsoleCommand::kClearMessages:
      NoteActivity("Clear Messages: " + Plural(before.logLines, "line", "lines") + " removed");
      return;
    case ConsoleCommand::kSelectDevice:
      if (row < 0 || size_t(row) >= lanDeviceRows_.size()) {
        NoteActivity("Select device: no device on row " + std::to_string(row));
        return;
      }
      NoteActivity(
          "Select device: " + lanDeviceRows_[size_t(row)].columns[DeviceListRow::kDeviceName] +
          " (" + lanDeviceRows_[size_t(row)].columns[DeviceListRow::kIp] + "); " +
          Plural(before.routes, "route", "routes") + " cleared");
      return;
    default:
      return;
  }
}

void CHalvynDlg::FillStatus(WindowView& view) const {
  const int64_t now = WallClockMs();
  WindowStatus& status = view.status;
  status.now = now;
  status.startedAt = startedAt_;
  status.relayRunning = relayServer_.running();
  status.relayBoundPort = relayServer_.boundPort();
  status.relayStartedAt = relayStartedAt_;
  status.clientsOnline = clientTable_.count();
  status.routesInUse = std::popcount(routeState_.routeSlotMask());
  for (const DeviceListRow& row : lanDeviceRows_) {
    if (row.device && selectedDeviceAddress_ != 0 &&
        row.device->ipAddress == selectedDeviceAddress_)
      status.selectedDevice =
          row.columns[DeviceListRow::kDeviceName] + " (" + row.columns[DeviceListRow::kIp] + ")";
  }
  status.lastError = lastError_;
  status.lastErrorTime = lastErrorTime_;
  status.stunRequestedAt = stunRequestedAt_;
  status.stunAnsweredAt = stunAnsweredAt_;

  std::unordered_map<std::string, ClientRecord> online;
  for (const ClientRecord& record : clientTable_.Snapshot())
    online.emplace(std::string(record.name()), record);
  const uint32_t tick = clock_.Now();
  for (const std::string& name : remoteDevices_.entries()) {
    RemoteDeviceDetail detail;
    detail.name = name;
    if (auto found = online.find(name); found != online.end()) {
      const ClientRecord& record = found->second;
      detail.known = true;
      detail.address = EndpointText(record.ip(), record.port());
      detail.p2pAddress = EndpointText(record.p2p_ip(), record.p2p_port());
      detail.lastHeardMs = tick - record.last_seen();
    }
    if (auto login = loginTimes_.find(name); login != loginTimes_.end())
      detail.loginTime = login->second;
    view.remoteDeviceDetails.push_back(std::move(detail));
  }

  for (const ListRow& row : view.forwardRoutes) {
    RouteDetail detail;
    int number = 0;
    std::from_chars(row[0].data(), row[0].data() + row[0].size(), number);
    if (number >= 1 && number <= kRouteSlotCount) detail.since = routeListedAt_[size_t(number - 1)];
    detail.txOnline = online.contains(row[1]);
    detail.rxOnline = online.contains(row[3]);
    view.routeDetails.push_back(detail);
  }
  view.activity.assign(activity_.begin(), activity_.end());
}

}  // namespace halvyn
