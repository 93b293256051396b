#include "console/web/window_json.h"

namespace halvyn {

nlohmann::json WindowJson(const WindowView& view, bool withLog) {
  nlohmann::json json = {
      {"title", view.title},
      {"startStop", view.startStop},
      {"localAddress", view.controls.localAddress},
      {"relayPort", view.controls.relayPort},
      {"remoteDevices", view.remoteDevices},
      {"lanDevices", view.lanDevices},
      {"forwardRoutes", view.forwardRoutes},
      {"stunServers", view.stunServers},
      {"stunServer", view.controls.stunServer},
      {"publicAddress", view.controls.publicAddress},
      {"messageBoxes", view.messageBoxes},
      {"messageBoxCounts", view.messageBoxCounts},
      {"logEpoch", view.logEpoch},
      {"logEnd", view.logEnd},
  };
  if (withLog) json["messageLog"] = view.messageLog;
  return json;
}

}  // namespace halvyn
