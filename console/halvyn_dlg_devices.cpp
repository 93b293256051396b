// The window's device link: network start-up, device discovery and device
// selection. Window thread.
#include <ostream>

#include "console/halvyn_dlg.h"
#include "devicelink/device_link_constants.h"
#include "devicelink/device_selection_writes.h"
#include "devicelink/device_socket_writer.h"
#include "devicelink/local_network_identity.h"
#include "platform/ipv4.h"
#include "platform/udp_socket.h"
#include "routes/route_state.h"

namespace halvyn {

namespace {

constexpr std::string_view kRegisterFdReadError = "Registe fd_read error.";
constexpr std::string_view kSelectedMark = "O";

}  // namespace

bool CHalvynDlg::InitLocalNetwork() {
  AssertOnWindowThread();
  const LocalNetworkIdentity identity = ReadLocalNetworkIdentity(options_.lanInterface);
  localAddress_ = identity.localAddress;
  gatewayText_ = identity.gatewayText;
  localMac_ = identity.localMac;
  gatewayMac_ = identity.gatewayMac;
  lanInterface_ = {identity.interfaceName, DottedText(HostToNetworkOrder(localAddress_)),
                   MacText(localMac_)};
  if (options_.errorOut) *options_.errorOut << LanInterfaceLine() << std::flush;
  UpdateData(false);

  deviceLinkWorkers_.StartDiscovery();

  if (deviceSocket_.Bind({0, kDeviceSocketPort}) != 0) {
    ShowMessageBox(kBindingIpFailureText);
    return false;
  }
  if (!deviceLinkWorkers_.StartDeviceSocketNotices()) {
    ShowMessageBox(std::string(kRegisterFdReadError));
    return false;
  }
  return true;
}

std::string CHalvynDlg::LanInterfaceLine() const {
  const std::string identity = lanInterface_.address + ", MAC " + lanInterface_.mac + "\n";
  if (!lanInterface_.name.empty()) return "LAN interface " + lanInterface_.name + ": " + identity;
  if (!options_.lanInterface.empty())
    return "LAN interface " + options_.lanInterface + " not found: " + identity;
  return "LAN interface: none qualifies: " + identity;
}

void CHalvynDlg::OnDeviceAnnounce(Ipv4Endpoint source, std::span<const uint8_t> datagram) {
  AssertOnWindowThread();
  if (deviceMap_.AddAnnouncement(datagram.data(), datagram.size(), source.address)) {
    RefreshDeviceList();
  }
}

void CHalvynDlg::RefreshDeviceList() {
  AssertOnWindowThread();
  lanDeviceRows_ = DeviceListRows(deviceMap_);
  MarkChanged();
}

void CHalvynDlg::SelectDevice(int row) {
  AssertOnWindowThread();
  if (row < 0 || size_t(row) >= lanDeviceRows_.size()) return;
  const CLocalDevice* device = lanDeviceRows_[size_t(row)].device;
  if (!device) return;
  routeState_.ResetForDeviceSelection(device->ipAddress);
  selectedDeviceAddress_ = device->ipAddress;
  selectedDeviceMac_ = device->macAddress;
  forwardRoutes_.Clear();
  MarkChanged();
  PerformDeviceSelectionWrites(
      deviceSocket_, deviceWriter_, deviceLinkCounters_,
      {device->ipAddress, localMac_, localAddress_}, SleepMilliseconds, [&] {
        for (DeviceListRow& each : lanDeviceRows_) each.columns[DeviceListRow::kStatus].clear();
        lanDeviceRows_[size_t(row)].columns[DeviceListRow::kStatus] = std::string(kSelectedMark);
        UpdateData(false);
      });
}

}  // namespace halvyn
