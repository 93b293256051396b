// The window's public address: Get Public IP, the STUN answers on the device
// socket, and server.txt. Window thread.
#include <ostream>

#include "console/halvyn_dlg.h"
#include "platform/udp_socket.h"
#include "publicaddress/public_address_file.h"
#include "publicaddress/stun_client.h"

namespace halvyn {

void CHalvynDlg::LoadPublicAddressFile() {
  if (auto contents = halvyn::LoadPublicAddressFile(kPublicAddressFileName)) {
    publicAddressText_ = std::move(contents->publicAddressText);
    relayPort_ = contents->relayPort;
  }
}

void CHalvynDlg::SavePublicAddressFile() {
  std::string error;
  if (halvyn::SavePublicAddressFile(kPublicAddressFileName, publicAddressText_, relayPort_, &error))
    return;
  if (options_.errorOut)
    *options_.errorOut << error << " (the new address is shown but not kept)" << std::endl;
  // The operator watches the console, not stderr: say it there too.
  ShowMessageBox(PublicAddressFileFailureMessage(error));
}

void CHalvynDlg::OnGetPublicIp() {
  AssertOnWindowThread();
  const std::string server = controls_.stunServer;  // as typed or selected, untrimmed
  if (stunClient_.SendBindingRequests(deviceSocket_, server) == StunSendOutcome::kUnresolved) {
    ShowMessageBox(InvalidUrlMessage(server));
    return;
  }
  stunRequestedAt_ = WallClockMs();
  MarkChanged();
}

void CHalvynDlg::OnStunReadable() {
  AssertOnWindowThread();
  const std::optional<Ipv4Endpoint> answer = stunClient_.ReadAnswer(deviceSocket_);
  deviceLinkWorkers_.RearmDeviceSocketNotices();
  if (!answer) return;
  stunAnsweredAt_ = WallClockMs();
  MarkChanged();
  UpdateData(true);  // a refused port box shows its message; the rest goes on
  const std::string address = DottedText(answer->address);
  if (address == publicAddressText_) return;
  publicAddressText_ = address;
  SavePublicAddressFile();
  UpdateData(false);
}

}  // namespace halvyn
