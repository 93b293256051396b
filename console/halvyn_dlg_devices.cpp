// The window's device link: network start-up, device discovery and device
// selection. Window thread.
#include <ostream>

#include "console/halvyn_dlg.h"
#include "devicelink/device_link_constants.h"
#include "devicelink/device_selection_writes.h"
#include "devicelink/local_network_identity.h"
#include "platform/stop_waiter.h"
#include "platform/ipv4.h"

namespace halvyn {

namespace {

constexpr std::string_view kRegisterFdReadError = "Registe fd_read error.";
constexpr std::string_view kSelectedMark = "O";

}  // namespace

bool CHalvynDlg::InitLocalNetwork() {
  const LocalNetworkIdentity identity = ReadLocalNetworkIdentity(options_.lanInterface);
  localAddress_ = identity.localAddress;
  gatewayText_ = identity.gatewayText;
  localMac_ = identity.localMac;
  gatewayMac_ = identity.gatewayMac;
  lanInterface_ = {identity.interfaceName, DottedText(HostToNetworkOrder(localAddress_)),
                   MacText(localMac_)};
  if (options_.errorOut) *options_.errorOut << LanInterfaceLine() << std::flush;
  UpdateData(false);

  discoveryListener_ = std::make_unique<DeviceDiscoveryListener>(
      DiscoveryListenerConfig{},
      DiscoveryListenerCallbacks{
          .onDatagram =
              [this](Ipv4Endpoint source, std::span<const uint8_t> bytes) {
                return window_.Send([&] { OnDeviceAnnounce(source, bytes); });
              },
          // Error notices reach the window and are dropped there.
          .onNotice = [](int, const std::string&) {},
          .showMessage =
              [this](const std::string& text) {
                window_.Post([this, text] { ShowMessageBox(text); });
              },
      });
  discoveryListener_->Start();

  if (deviceSocket_.Bind({0, kDeviceSocketPort}) != 0) {
    ShowMessageBox(kBindingIpFailureText);
    return false;
  }
  deviceSocketNotifier_ = std::make_unique<SocketReadableNotifier>(
      deviceSocket_, [this] { window_.Post([this] { OnStunReadable(); }); });
  if (!deviceSocketNotifier_->Start()) {
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

void CHalvynDlg::StopDeviceDiscovery() {
  if (!discoveryListener_) return;
  WindowQueueStopWaiter waiter(window_);
  if (!discoveryListener_->Stop(waiter)) {
    // Still ending after the bounded wait: joined once the window has ended.
    stoppingDiscoveryListener_ = std::move(discoveryListener_);
  }
  discoveryListener_.reset();
}

void CHalvynDlg::OnDeviceAnnounce(Ipv4Endpoint source, std::span<const uint8_t> datagram) {
  if (deviceMap_.AddAnnouncement(datagram.data(), datagram.size(), source.address)) {
    RefreshDeviceList();
  }
}

void CHalvynDlg::RefreshDeviceList() {
  lanDeviceRows_ = DeviceListRows(deviceMap_);
  MarkChanged();
}

void CHalvynDlg::SelectDevice(int row) {
  if (row < 0 || size_t(row) >= lanDeviceRows_.size()) return;
  const CLocalDevice* device = lanDeviceRows_[size_t(row)].device;
  if (!device) return;
  routeState_.ResetForDeviceSelection(device->ipAddress);
  selectedDeviceAddress_ = device->ipAddress;
  selectedDeviceMac_ = device->macAddress;
  forwardRoutes_.Clear();
  MarkChanged();
  PerformDeviceSelectionWrites(
      deviceSocket_, deviceWriter_, {device->ipAddress, localMac_, localAddress_},
      SleepMilliseconds, [&] {
        for (DeviceListRow& each : lanDeviceRows_) each.columns[DeviceListRow::kStatus].clear();
        lanDeviceRows_[size_t(row)].columns[DeviceListRow::kStatus] = std::string(kSelectedMark);
        UpdateData(false);
      });
}

}  // namespace halvyn
