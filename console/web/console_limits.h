// The console's limits on connections, event streams and request headers.
#pragma once

namespace halvyn {

struct ConsoleLimits {
  // Connections at once, all clients together: far below the 1024 files a
  // service gets by default, so the relay, the slot listeners and the device
  // socket always find descriptors. Further connections wait in the backlog.
  int connections = 256;
  // Connections at once from one IP address; more are closed when accepted.
  int connectionsPerIp = 32;
  // Event streams at once; more are answered 503.
  int eventStreams = 64;
  // Seconds from accepting a connection (or answering its previous request)
  // to its complete request header; a connection that takes longer is cut.
  int headerSeconds = 10;
};

}  // namespace halvyn
