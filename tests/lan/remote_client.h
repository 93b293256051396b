// halvyn-client as a remote device in a rig namespace, fed its commands one
// line at a time through a FIFO on its standard input, so a test can act
// between them. Its output (one line per datagram sent or received, see
// tools/client/datagram_text.h) is read back from the rig's output file.
//
// Must not outlive the rig it runs in. Test thread only.
#pragma once

#include <string>
#include <vector>

#include "tests/rig/network_rig.h"

namespace halvyn::testing {

class RemoteClient {
 public:
  // Starts halvyn-client in host with arguments (--server, --bind, --name ...)
  // and waits for its "ready" line.
  RemoteClient(rig::NetworkRig& rig, const std::string& host,
               const std::vector<std::string>& arguments);
  // Ends its input: the client ends by itself; the rig ends it at the latest.
  ~RemoteClient();
  RemoteClient(const RemoteClient&) = delete;
  RemoteClient& operator=(const RemoteClient&) = delete;

  // Sends one command line ("login", "route ...", "probe 14367" ...).
  void Command(const std::string& line);

  // Every output line that starts with prefix, in order.
  std::vector<std::string> Lines(const std::string& prefix) const;
  // Waits until at least count lines start with prefix; returns them all.
  std::vector<std::string> WaitForLines(const std::string& prefix, size_t count, int timeoutMs);
  // The count-th (from 1) line starting with prefix, "" when it never came.
  std::string WaitForLine(const std::string& prefix, size_t count, int timeoutMs);

  std::string Output() const { return process_->Output(); }

 private:
  std::string fifo_;
  int input_ = -1;  // the FIFO's only writer
  rig::RigProcess* process_ = nullptr;
};

}  // namespace halvyn::testing
