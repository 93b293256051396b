#include "console/web/command_request.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>

namespace halvyn {

namespace {

using nlohmann::json;

// The controls part of a command body: only the three typed texts, as strings.
bool ReadControlInput(const json& body, ControlInput& input, std::string& error) {
  if (!body.contains("controls")) return true;
  const json& controls = body["controls"];
  if (!controls.is_object()) {
    error = "controls must be an object";
    return false;
  }
  for (const auto& [key, value] : controls.items()) {
    std::optional<std::string>* target = key == "localAddress" ? &input.localAddress
                                         : key == "relayPort"  ? &input.relayPort
                                         : key == "stunServer" ? &input.stunServer
                                                               : nullptr;
    if (!target) {
      error = "unknown control: " + key;
      return false;
    }
    if (!value.is_string()) {
      error = "control " + key + " must be a string";
      return false;
    }
    *target = value.get<std::string>();
  }
  return true;
}

}  // namespace

std::variant<CommandRequest, CommandRequestError> ParseCommandRequest(std::string_view body) {
  const json parsed = json::parse(body, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    return CommandRequestError{"body must be a JSON object"};
  }
  if (!parsed.contains("command") || !parsed["command"].is_string()) {
    return CommandRequestError{"command missing"};
  }
  const auto command = ParseConsoleCommand(parsed["command"].get<std::string>());
  if (!command) return CommandRequestError{"unknown command"};
  CommandRequest request{*command, {}, -1};
  if (parsed.contains("row")) {
    if (!parsed["row"].is_number_integer()) return CommandRequestError{"row must be an integer"};
    const auto value = parsed["row"].get<int64_t>();
    request.row = value < -1 || value > 1'000'000 ? -1 : int(value);
  }
  std::string error;
  if (!ReadControlInput(parsed, request.controls, error)) return CommandRequestError{error};
  return request;
}

}  // namespace halvyn
