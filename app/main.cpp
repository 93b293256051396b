// halvyn: the relay server, the device link, the STUN client and the operator
// console in one process.
//
// Threads: main starts everything and waits for the window to end; the window
// thread runs every handler; the console server, the relay server and the
// signal watcher run their own. The subsystems and the window are assembled
// by ServerParts; main adds what comes from the command line and the process:
// the relay limits, the console, the service readiness and the signals.
#include <malloc.h>

#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "app/service_readiness.h"
#include "console/web/console_access.h"
#include "console/web/console_server.h"
#include "halvyn_version.h"
#include "platform/event.h"
#include "platform/message_queue.h"
#include "platform/service_notifier.h"
#include "platform/signal_watcher.h"
#include "platform/tick_count.h"
#include "platform/worker.h"
#include "server/server_parts.h"

namespace {

constexpr char kVersion[] = "Halvyn, Version " HALVYN_VERSION;

std::string GenerateToken() {
  std::random_device random;
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string token;
  for (int i = 0; i < 32; ++i) token += kDigits[random() % 16];
  return token;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace halvyn;
  // Blocks of 1 MiB and more (the message log, a console event carrying the
  // whole log) are mapped on their own and returned when freed. By default
  // glibc raises this threshold after the first such block is freed and keeps
  // later ones in the heap: a busy log with a page attached then held 65 MiB.
  mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
  std::string error;
  const auto line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!line) {
    std::cerr << "halvyn: " << error << "\n" << kUsage;
    return 2;
  }
  if (line->help) {
    std::cout << kUsage;
    return 0;
  }
  if (line->version) {
    std::cout << kVersion << "\n";
    return 0;
  }

  WindowMessageQueue window;
  MonotonicTickClock clock;
  ServerParts parts(window, clock,
                    {.relayTiming = {},
                     .startNetwork = true,
                     .logOut = &std::cout,
                     .errorOut = &std::cerr,
                     .lanInterface = line->lanInterface});
  CHalvynDlg& dlg = parts.window();
  parts.relayServer().SetLimits(line->limits);  // before any Start

  std::unique_ptr<ConsoleServer> console;
  if (line->console) {
    // HALVYN_TOKEN serves where a token on the command line would show in
    // every local user's process list; --token wins when both are given.
    const char* environmentToken = std::getenv("HALVYN_TOKEN");
    const std::string token =
        !line->token.empty() || !environmentToken ? line->token : environmentToken;
    ConsoleServerOptions options{line->consoleAddress, line->consolePort, token,
                                 line->consoleLimits};
    if (!ConsoleAccess::IsLoopback(options.address) && options.token.empty()) {
      options.token = GenerateToken();
      std::cout << "Console token: " << options.token << std::endl;
    }
    console = std::make_unique<ConsoleServer>(dlg, window, parts.metricsSources(), options);
    if (!console->Bind(error)) {
      std::cerr << "halvyn: " << error << " (is another halvyn running?)\n";
      return 1;
    }
  }
  // Tells systemd when the service is up (nothing outside systemd).
  ServiceReadiness readiness(/*waitForConsole=*/console != nullptr, /*waitForRelay=*/line->start,
                             NotifyServiceManager);
  auto reportRelayState = [&] {
    readiness.RelayState(parts.relayServer().running(), parts.relayServer().boundPort());
  };
  dlg.SetChangeListener([&] {
    if (console) console->WindowChanged();
    reportRelayState();
  });

  // Before any other thread starts, so SIGINT and SIGTERM reach only this watcher.
  SignalWatcher signals([&](int) {
    readiness.Stopping();
    window.Post([&] { dlg.OnClose(); });
  });

  std::thread windowThread([&] {
    window.BindToCurrentThread();
    dlg.OnInitDialog();
    if (line->start) dlg.OnStartStop();
    reportRelayState();
    window.Run();
  });
  int status = 0;
  if (console && !console->Start(error)) {
    std::cerr << "halvyn: " << error << "\n";
    status = 1;
    window.Post([&] { dlg.OnClose(); });
  } else if (console) {
    std::cout << "Console: http://" << line->consoleAddress << ":" << line->consolePort << "/"
              << std::endl;
    window.Post([&] { readiness.ConsoleListening(); });
  }
  // The console's ages (last heard, uptimes) move on without an event of their
  // own: the window is told once a second.
  ManualResetEvent tickEnd;
  Worker ticker;
  if (console) {
    ticker.Start(
        [&](std::stop_token) {
          while (!tickEnd.WaitFor(1000)) window.Post([&] { dlg.OnLifeSignTick(); });
        },
        [&] { tickEnd.Set(); });
  }
  windowThread.join();
  ticker.RequestStop();
  ticker.Join();
  readiness.Stopping();
  dlg.SetChangeListener(nullptr);  // the listener's captures end before the window does
  if (console) console->Stop();
  return status;
}
