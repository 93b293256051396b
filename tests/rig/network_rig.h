// A small LAN made of network namespaces, for tests that need the fixed
// ports (4440, 9887, 19002), multicast and ARP without touching the machine's
// own network.
//
//   host namespaces (PC, gateway, devices)      switch namespace
//   [ns-pc]   eth0 10.x.x.x  ---- veth ----  port0 ┐
//   [ns-gw]   eth0 10.x.x.1  ---- veth ----  port1 ├─ br0 (bridge, multicast flooded)
//   [ns-dev1] eth0 10.x.x.y  ---- veth ----  port2 ┘
//
// Every namespace is named "hvrig<pid>x<n>-<role>", so parallel test runs
// never collide; the destructor ends the processes it started (by PID) and
// deletes every namespace, also when a test fails. Namespaces left by a
// crashed run whose PID no longer exists are removed at the next start.
// Needs root (CAP_SYS_ADMIN and CAP_NET_ADMIN): check Permitted() first.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/rig/rig_process.h"

namespace halvyn::testing::rig {

class NetworkRig {
 public:
  // True when this process may create network namespaces; why says otherwise.
  static bool Permitted(std::string* why = nullptr);

  // Creates the switch namespace and its bridge; ok() tells whether it worked.
  NetworkRig();
  ~NetworkRig();
  NetworkRig(const NetworkRig&) = delete;
  NetworkRig& operator=(const NetworkRig&) = delete;

  bool ok() const { return error_.empty(); }
  // The first failure, with the command and its output.
  const std::string& error() const { return error_; }

  // Creates a host namespace with its loopback up; returns its name ("" on failure).
  std::string AddHost(const std::string& role);
  // Plugs a new adapter named interfaceName into host: a veth whose other end
  // is on the bridge. cidr "10.200.0.10/24"; mac "02:..." or empty for a random one.
  bool AddAdapter(const std::string& host, const std::string& interfaceName,
                  const std::string& cidr, const std::string& mac = "");
  // Adds an address to an existing adapter.
  bool AddAddress(const std::string& host, const std::string& interfaceName,
                  const std::string& cidr);
  // Adds "default via gateway dev interfaceName metric metric".
  bool AddDefaultRoute(const std::string& host, const std::string& gateway,
                       const std::string& interfaceName, int metric = 0);

  // Runs a command inside host and waits for it.
  CommandResult Exec(const std::string& host, const std::vector<std::string>& argv,
                     int timeoutMs = 15000);
  // Starts a command inside host; the rig ends it at the latest in its destructor.
  // Its stdin reads inputFile (/dev/null when empty).
  RigProcess& Spawn(const std::string& host, const std::vector<std::string>& argv,
                    const std::string& inputFile = "");

  // A directory for this rig's files; removed with the rig.
  const std::string& directory() const { return directory_; }

 private:
  bool Run(const std::vector<std::string>& argv);
  static void RemoveStaleNamespaces();

  std::string prefix_;
  std::string switchNamespace_;
  std::string directory_;
  std::vector<std::string> namespaces_;
  std::vector<std::unique_ptr<RigProcess>> processes_;
  int nextPort_ = 0;
  std::string error_;
};

}  // namespace halvyn::testing::rig
