// halvyn-client: a simulated remote device of the Halvyn relay, for people
// checking a relay from outside and for tests that need remote devices.
//
// Threads: main parses, runs the commands (from the command line or stdin)
// and waits; the session's receive and keep-alive threads print what arrives
// and what is sent; the signal watcher turns SIGINT/SIGTERM into a clean end.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "halvyn_version.h"
#include "platform/line_input.h"
#include "platform/resolver.h"
#include "platform/signal_watcher.h"
#include "platform/udp_socket.h"
#include "tools/client/client_options.h"
#include "tools/client/client_session.h"
#include "tools/client/datagram_text.h"
#include "tools/client/relay_check.h"

namespace {

using namespace halvyn;

constexpr char kVersion[] = "halvyn-client, Version " HALVYN_VERSION;

// Exit statuses: 0 all went well, 1 a command or a check step failed, 2 the
// command line or the set-up (name resolution, bind) was wrong.
constexpr int kFailed = 1;
constexpr int kUsageError = 2;

int RunCheck(UdpSocket& socket, const ClientOptions& options, Ipv4Endpoint server) {
  LineOutput out(std::cout);
  SignalWatcher signals([&](int) { socket.Close(); });
  const RelayCheckOptions check{server, TemporaryCheckName(), options.timeoutMs, options.verbose};
  return RunRelayCheck(socket, check, out) ? 0 : kFailed;
}

int RunSession(UdpSocket& socket, const ClientOptions& options, Ipv4Endpoint server) {
  LineOutput out(std::cout);
  ClientRecord self;
  self.set_name(options.name);
  self.set_p2p_ip(options.p2p.address);
  self.set_p2p_port(options.p2p.port);
  ClientSession session(socket, server, self, out);
  LineInput input(0);
  // Before the session's threads start, so the signals reach only the watcher.
  SignalWatcher signals([&](int) {
    session.Stop();
    input.Interrupt();
  });
  session.Start(options.keepAliveIntervalMs);
  out.Print("ready local=" + EndpointText(socket.LocalEndpoint()) +
            " server=" + EndpointText(server) + " name=" + FieldText(options.name));

  const auto run = [&](const std::string& line) {
    std::string error;
    const auto command = ParseClientCommand(line, error);
    if (!command) {
      session.ReportError(error);
      return true;
    }
    return session.Execute(*command);
  };
  if (!options.commands.empty()) {
    for (const std::string& line : options.commands)
      if (!run(line)) break;
  } else {
    std::string line;
    while (input.ReadLine(line) == LineInput::Status::kLine && run(line)) {
    }
  }
  session.LogOutAfterFailure();
  session.Stop();
  return session.failed() ? kFailed : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto options = ParseClientOptions(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    std::cerr << "halvyn-client: " << error << "\n" << kClientUsage;
    return kUsageError;
  }
  if (options->help) {
    std::cout << kClientUsage;
    return 0;
  }
  if (options->version) {
    std::cout << kVersion << "\n";
    return 0;
  }

  const auto addresses = ResolveIpv4Addresses(options->serverHost);
  if (!addresses || addresses->empty()) {
    std::cerr << "halvyn-client: cannot resolve " << options->serverHost << "\n";
    return kUsageError;
  }
  const Ipv4Endpoint server{addresses->front(), options->serverPort};

  UdpSocket socket;
  if (const int bindError = socket.Bind(options->bind); bindError != 0) {
    std::cerr << "halvyn-client: cannot bind " << EndpointText(options->bind) << ": "
              << std::strerror(bindError) << "\n";
    return kUsageError;
  }
  return options->check ? RunCheck(socket, *options, server) : RunSession(socket, *options, server);
}
