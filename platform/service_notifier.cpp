#include "platform/service_notifier.h"

#include <systemd/sd-daemon.h>

#include <string>

namespace halvyn {

void NotifyServiceManager(std::string_view assignments) {
  const std::string text(assignments);
  // 0: keep $NOTIFY_SOCKET, so later notifications (STATUS, STOPPING) reach it too.
  (void)sd_notify(0, text.c_str());
}

}  // namespace halvyn
