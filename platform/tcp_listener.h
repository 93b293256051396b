// A listening IPv4 TCP socket for a server that takes the descriptor over
// (the console's HTTP server), and a way to cut a connection short.
#pragma once

#include <string>

#include "platform/ipv4.h"

namespace halvyn {

// Binds and listens on local with SO_REUSEADDR (a restart may bind while old
// connections linger in TIME_WAIT) and never SO_REUSEPORT, so a second
// process on the same address fails instead of sharing the connections.
// Returns the non-blocking, close-on-exec descriptor, or -1 with error set to
// the system's reason ("Address already in use") and, when given, errorCode
// to its errno.
int OpenTcpListener(Ipv4Endpoint local, int backlog, std::string& error, int* errorCode = nullptr);

// True when something accepts TCP connections at endpoint (a connection is
// made and closed at once; loopback is tried for 0.0.0.0).
bool SomethingListens(Ipv4Endpoint endpoint);

// Closes a listener that no server took over.
void CloseListener(int fd);

// Shuts a connected socket down both ways: its owner's next read sees the end
// of the stream and closes it. The descriptor stays open (and owned).
void ShutdownConnection(int fd);

}  // namespace halvyn
