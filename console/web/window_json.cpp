#include "console/web/window_json.h"

namespace halvyn {

std::string Latin1ToUtf8(std::string_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else {
      utf8 += char(0xC0 | (byte >> 6));
      utf8 += char(0x80 | (byte & 0x3F));
    }
  }
  return utf8;
}

namespace {

std::vector<std::string> Utf8Texts(std::vector<std::string> texts) {
  for (std::string& text : texts) text = Latin1ToUtf8(text);
  return texts;
}

std::vector<ListRow> Utf8Rows(std::vector<ListRow> rows) {
  for (ListRow& row : rows)
    for (std::string& text : row) text = Latin1ToUtf8(text);
  return rows;
}

}  // namespace

nlohmann::json WindowJson(const WindowView& view, bool withLog) {
  nlohmann::json json = {
      {"title", view.title},
      {"startStop", view.startStop},
      {"localAddress", view.controls.localAddress},
      {"relayPort", view.controls.relayPort},
      {"remoteDevices", Utf8Texts(view.remoteDevices)},
      {"lanDevices", Utf8Rows(view.lanDevices)},
      {"forwardRoutes", Utf8Rows(view.forwardRoutes)},
      {"stunServers", view.stunServers},
      {"stunServer", view.controls.stunServer},
      {"publicAddress", view.controls.publicAddress},
      {"messageBoxes", view.messageBoxes},
      {"logEpoch", view.logEpoch},
      {"logEnd", view.logEnd},
      {"lanInterface",
       {{"name", view.lanInterface.name},
        {"address", view.lanInterface.address},
        {"mac", view.lanInterface.mac}}},
  };
  if (withLog) json["messageLog"] = Latin1ToUtf8(view.messageLog);
  return json;
}

}  // namespace halvyn
