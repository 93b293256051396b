// Carries the relay server's notices to the window thread: sent notices wait
// until the window has handled them, posted ones carry their own copy.
// Any thread.
#pragma once

#include "platform/message_queue.h"
#include "relay/relay_notices.h"

namespace halvyn {

class CHalvynDlg;

class WindowRelayNotices final : public RelayNotices {
 public:
  WindowRelayNotices(CHalvynDlg& dlg, WindowMessageQueue& window) : dlg_(dlg), window_(window) {}

  void SendClientLogin(const ClientRecord& record) override;
  void SendClientLogout(const ClientRecord& record) override;
  void PostClientTimeout(const ClientRecord& record) override;
  void PostForwardConnect() override;
  void SendClientInfo(const ClientRecord& record) override;
  void PostLimitLine(std::string line) override;

 private:
  CHalvynDlg& dlg_;
  WindowMessageQueue& window_;
};

}  // namespace halvyn
