// Tells the service manager how start-up and shutdown go (systemd's notify
// protocol, through the socket that $NOTIFY_SOCKET names). When the process
// was not started as a Type=notify service there is no such socket and every
// call does nothing. Any thread.
#pragma once

#include <string_view>

namespace halvyn {

// Sends one notification: newline-separated assignments such as "READY=1" or
// "STATUS=Relay server running". Failures are ignored: the service manager
// notices a missing READY=1 by its own start timeout.
void NotifyServiceManager(std::string_view assignments);

}  // namespace halvyn
