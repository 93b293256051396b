// libFuzzer target for the console API's commands: each line of the input is
// one POST /api/command body. It goes through ParseCommandRequest as the HTTP
// handler does; an accepted one runs on a fresh window (CHalvynDlg on a message
// queue bound to this thread) with the control texts it carries, and the
// window is then turned into the API's JSON, as the handler answers it.
//
// Start really starts the relay server: the fuzzer first moves into a network
// namespace of its own, so the ports it binds never meet anything else. Where
// that is not allowed (not root), Start is left out and only the data exchange
// of the controls runs. Seeds: fuzz/corpus/console_command/.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "console/web/command_request.h"
#include "console/web/window_json.h"
#include "fuzz/fuzz_private_network.h"
#include "platform/message_queue.h"
#include "platform/tick_count.h"
#include "server/server_parts.h"

namespace halvyn {
namespace {

// Most commands taken from one input.
constexpr int kMaxCommands = 32;

bool privateNetwork = false;

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "console command fuzzer: %s\n", what);
  std::abort();
}

// What the port box must make of a text: a number of digits alone (up to
// 4294967295) is taken, anything with other characters than digits, blanks
// and tabs is refused. Other texts are not judged here.
enum class PortVerdict { kTaken, kRefused, kEither };

PortVerdict JudgePortText(std::string_view text, uint32_t& value) {
  if (text.find_first_not_of("0123456789 \t") != std::string_view::npos) {
    return PortVerdict::kRefused;
  }
  if (text.empty() || text.size() > 10 ||
      text.find_first_not_of("0123456789") != std::string_view::npos) {
    return PortVerdict::kEither;
  }
  uint64_t number = 0;
  for (const char c : text) number = number * 10 + uint64_t(c - '0');
  if (number > UINT32_MAX) return PortVerdict::kRefused;
  value = uint32_t(number);
  return PortVerdict::kTaken;
}

// The error answer exactly as the HTTP handler builds it.
void CheckErrorReply(const CommandRequestError& error) {
  Check(!error.message.empty(), "a refusal without a reason");
  const std::string body = nlohmann::json{{"error", error.message}}.dump();
  Check(body.size() > error.message.size(), "an empty error answer");
}

void RunCommand(ServerParts& parts, const CommandRequest& request) {
  CHalvynDlg& dlg = parts.window();
  const bool endedBefore = dlg.ended();
  const uint32_t portBefore = dlg.relayPort();
  // A refusal adds its box, or counts it once more on the same box still waiting.
  const auto refusalsRaised = [&dlg] {
    const WindowView view = dlg.View(false);
    uint64_t raised = 0;
    for (size_t i = 0; i < view.messageBoxes.size(); ++i)
      if (view.messageBoxes[i] == "Enter a positive integer.") raised += view.messageBoxCounts[i];
    return raised;
  };
  const uint64_t refusalsBefore = refusalsRaised();
  const bool start = request.command == ConsoleCommand::kStartStop &&
                     dlg.View(false).startStop == CHalvynDlg::kStartCaption;

  bool ran;
  if (start && !privateNetwork) {
    // Only the data exchange that Start begins with: the controls go in, then
    // the window reads them.
    ran = dlg.RunCommand(ConsoleCommand::kAbout, request.controls, request.row);
    if (ran) dlg.UpdateData(true);
  } else {
    ran = dlg.RunCommand(request.command, request.controls, request.row);
  }
  const WindowView view = dlg.View();

  if (endedBefore) Check(!ran, "a command ran on an ended window");
  if (ran &&
      (request.command == ConsoleCommand::kExit || request.command == ConsoleCommand::kClose))
    Check(dlg.ended(), "exit or close left the window up");
  Check(view.startStop == CHalvynDlg::kStartCaption || view.startStop == CHalvynDlg::kStopCaption,
        "a caption other than Start or Stop");
  Check((view.startStop == CHalvynDlg::kStopCaption) == parts.relayServer().running(),
        "the caption disagrees with the relay server");
  Check(view.title == CHalvynDlg::kTitle, "the title changed");

  if (ran && request.command == ConsoleCommand::kStartStop) {
    uint32_t value = 0;
    switch (JudgePortText(view.controls.relayPort, value)) {
      case PortVerdict::kTaken:
        Check(dlg.relayPort() == value, "a port number was not taken");
        break;
      case PortVerdict::kRefused:
        Check(dlg.relayPort() == portBefore, "a refused port text changed the port");
        Check(refusalsRaised() > refusalsBefore, "a refused port text without its message box");
        break;
      case PortVerdict::kEither:
        break;
    }
  }

  // The answer the handler sends, whatever bytes the texts carry.
  const std::string json =
      WindowJson(view).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  Check(!json.empty(), "no window JSON");
}

void RunInput(std::string_view input) {
  WindowMessageQueue window;
  window.BindToCurrentThread();
  MonotonicTickClock clock;
  ServerParts parts(window, clock, {});
  CHalvynDlg& dlg = parts.window();
  dlg.OnInitDialog();

  int commands = 0;
  while (!input.empty() && commands < kMaxCommands) {
    const size_t end = input.find('\n');
    const std::string_view body = input.substr(0, end);
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    ++commands;
    auto parsed = ParseCommandRequest(body);
    if (const auto* error = std::get_if<CommandRequestError>(&parsed)) {
      CheckErrorReply(*error);
      continue;
    }
    const CommandRequest& request = std::get<CommandRequest>(parsed);
    Check(request.row >= -1 && request.row <= 1'000'000, "a row outside -1..1000000");
    RunCommand(parts, request);
  }

  if (!dlg.ended()) dlg.OnExit();
  Check(!parts.relayServer().running(), "the relay server still runs after Exit");
}

}  // namespace
}  // namespace halvyn

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  halvyn::privateNetwork = halvyn::fuzzing::EnterPrivateNetwork();
  if (!halvyn::privateNetwork)
    std::fprintf(stderr, "console command fuzzer: no private network namespace, Start left out\n");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  halvyn::RunInput(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
