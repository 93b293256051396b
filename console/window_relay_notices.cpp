#include "console/window_relay_notices.h"

#include "console/halvyn_dlg.h"

namespace halvyn {

void WindowRelayNotices::SendClientLogin(const ClientRecord& record) {
  window_.Send([&] { dlg_.OnClientLogin(&record); });
}

void WindowRelayNotices::SendClientLogout(const ClientRecord& record) {
  window_.Send([&] { dlg_.OnClientLogout(record, false); });
}

void WindowRelayNotices::PostClientTimeout(const ClientRecord& record) {
  window_.Post([this, copy = record] { dlg_.OnClientLogout(copy, true); });
}

void WindowRelayNotices::PostForwardConnect() {
  window_.Post([this] { dlg_.OnForwardConnect(); });
}

void WindowRelayNotices::SendClientInfo(const ClientRecord& record) {
  window_.Send([&] { dlg_.OnClientInfo(record); });
}

void WindowRelayNotices::PostLimitLine(std::string line) {
  window_.Post([this, line = std::move(line)] { dlg_.AppendLog(line); });
}

}  // namespace halvyn
