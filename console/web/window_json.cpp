#include "console/web/window_json.h"

#include <charconv>
#include <cstring>

#include "routes/route_slot.h"

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

void AppendNumber(std::string& out, int64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

}  // namespace

std::string JsonString(std::string_view latin1) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(latin1.size() + latin1.size() / 8 + 2);
  out += '"';
  for (size_t i = 0; i < latin1.size(); ++i) {
    // A run of characters that stand for themselves goes in at once.
    size_t end = i;
    while (end < latin1.size() && static_cast<unsigned char>(latin1[end]) >= 0x20 &&
           static_cast<unsigned char>(latin1[end]) < 0x80 && latin1[end] != '"' &&
           latin1[end] != '\\')
      ++end;
    if (end > i) {
      out.append(latin1.substr(i, end - i));
      i = end;
      if (i == latin1.size()) break;
    }
    const auto byte = static_cast<unsigned char>(latin1[i]);
    switch (byte) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xF];
        } else {
          out += char(0xC0 | (byte >> 6));
          out += char(0x80 | (byte & 0x3F));
        }
    }
  }
  out += '"';
  return out;
}

std::string JsonNumbers(const std::vector<int64_t>& numbers) {
  std::string out;
  out.reserve(numbers.size() * 15 + 2);
  out += '[';
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (i) out += ',';
    AppendNumber(out, numbers[i]);
  }
  out += ']';
  return out;
}

std::string LogIncrementJson(uint64_t epoch, uint64_t offset, std::string_view append,
                             const std::vector<int64_t>& times) {
  std::string out = "{\"append\":" + JsonString(append) + ",\"epoch\":";
  AppendNumber(out, int64_t(epoch));
  out += ",\"offset\":";
  AppendNumber(out, int64_t(offset));
  out += ",\"times\":" + JsonNumbers(times) + "}";
  return out;
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

std::string ErrnoHint(std::string_view text) {
  // The message boxes that carry an error number keep their texts; the meaning
  // goes beside them.
  for (std::string_view prefix : {"bind() failed ", "Multicast bind failed:"}) {
    if (!text.starts_with(prefix)) continue;
    int number = 0;
    const std::string_view digits = text.substr(prefix.size());
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc() || end == digits.data() || number <= 0) return {};
    return std::strerror(number);
  }
  return {};
}

void AddConsoleDetails(const WindowView& view, nlohmann::json& json) {
  nlohmann::json remote = nlohmann::json::array();
  for (const RemoteDeviceDetail& d : view.remoteDeviceDetails) {
    nlohmann::json entry = {
        {"name", Latin1ToUtf8(d.name)}, {"known", d.known}, {"loginTime", d.loginTime}};
    if (d.known) {
      entry["address"] = d.address;
      entry["p2pAddress"] = d.p2pAddress;
      entry["lastHeardMs"] = d.lastHeardMs;
    }
    remote.push_back(std::move(entry));
  }
  json["remoteDeviceDetails"] = std::move(remote);
  nlohmann::json routes = nlohmann::json::array();
  for (const RouteDetail& d : view.routeDetails)
    routes.push_back({{"since", d.since}, {"txOnline", d.txOnline}, {"rxOnline", d.rxOnline}});
  json["routeDetails"] = std::move(routes);
  nlohmann::json activity = nlohmann::json::array();
  for (const ActivityEntry& a : view.activity)
    activity.push_back({{"time", a.time}, {"text", Latin1ToUtf8(a.text)}});
  json["activity"] = std::move(activity);
  nlohmann::json hints = nlohmann::json::array();
  for (const std::string& box : view.messageBoxes) hints.push_back(ErrnoHint(box));
  json["messageBoxHints"] = std::move(hints);
  const WindowStatus& s = view.status;
  json["status"] = {
      {"now", s.now},
      {"startedAt", s.startedAt},
      {"relayRunning", s.relayRunning},
      {"relayBoundPort", s.relayBoundPort},
      {"relayStartedAt", s.relayStartedAt},
      {"clientsOnline", s.clientsOnline},
      {"routesInUse", s.routesInUse},
      {"routeSlots", kRouteSlotCount},
      {"selectedDevice", Latin1ToUtf8(s.selectedDevice)},
      {"lastError", s.lastError},
      {"lastErrorHint", ErrnoHint(s.lastError)},
      {"lastErrorTime", s.lastErrorTime},
      {"stunRequestedAt", s.stunRequestedAt},
      {"stunAnsweredAt", s.stunAnsweredAt},
  };
}

nlohmann::json WindowJson(const WindowView& view, bool withLog) {
  nlohmann::json json = {
      {"version", view.version},
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
      {"messageBoxCounts", view.messageBoxCounts},
      {"logEpoch", view.logEpoch},
      {"logEnd", view.logEnd},
      {"lanInterface",
       {{"name", view.lanInterface.name},
        {"address", view.lanInterface.address},
        {"mac", view.lanInterface.mac}}},
  };
  if (withLog) {
    json["messageLog"] = Latin1ToUtf8(view.messageLog);
    json["logTimes"] = view.logTimes;
  }
  AddConsoleDetails(view, json);
  return json;
}

std::string WindowJsonText(const WindowView& view) {
  // The dump with empty stand-ins for the two log fields, which are then
  // written in their place. A comma before an unescaped quote never occurs
  // inside a JSON string, so each stand-in is found only as its own member.
  nlohmann::json json = WindowJson(view, /*withLog=*/false);
  json["messageLog"] = "";
  json["logTimes"] = nlohmann::json::array();
  std::string text = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  const auto put = [&text](std::string_view standIn, const std::string& value) {
    const size_t at = text.find(standIn);
    text.replace(at + standIn.size() - 2, 2, value);
  };
  put(R"(,"messageLog":"")", JsonString(view.messageLog));
  put(R"(,"logTimes":[])", JsonNumbers(view.logTimes));
  return text;
}

}  // namespace halvyn
