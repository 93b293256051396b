// The console's HTTP side: the page, the JSON API and the event stream.
//
//   GET  /api/window   the window as JSON
//   POST /api/command  {"command": NAME, "controls": {...}, "row": N}; returns the window
//   GET  /api/events   Server-Sent Events: "window" after every change
//
// Every request is served on an HTTP worker thread and reaches the window only
// through its message queue. Start/Stop from the owning thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "console/halvyn_dlg.h"
#include "console/web/console_access.h"
#include "console/web/window_changes.h"
#include "platform/message_queue.h"

namespace httplib {
class Server;
}

namespace halvyn {

struct ConsoleServerOptions {
  std::string address = "127.0.0.1";
  uint16_t port = 7080;
  std::string token;  // required from clients when not empty
};

class ConsoleServer {
 public:
  // Most event streams at once; more are refused with 503 so the worker pool
  // always has threads left for commands.
  static constexpr int kMaxEventStreams = 16;
  static constexpr int kWorkerThreads = 24;
  static constexpr size_t kMaxBodyBytes = 64 * 1024;

  ConsoleServer(CHalvynDlg& dlg, WindowMessageQueue& window, ConsoleServerOptions options);
  ~ConsoleServer();
  ConsoleServer(const ConsoleServer&) = delete;
  ConsoleServer& operator=(const ConsoleServer&) = delete;

  // Binds the listening socket; false (with a reason) when it cannot.
  bool Bind(std::string& error);
  // Serves on a thread of its own until Stop.
  void Start();
  // Ends every event stream, stops serving and joins the thread.
  void Stop();

  // Window thread: the window changed (wired to CHalvynDlg's change listener).
  void WindowChanged() { changes_.Bump(); }
  const ConsoleServerOptions& options() const { return options_; }

 private:
  void RegisterRoutes();

  CHalvynDlg& dlg_;
  WindowMessageQueue& window_;
  ConsoleServerOptions options_;
  ConsoleAccess access_;
  WindowChanges changes_;
  std::atomic<int> eventStreams_{0};
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
};

}  // namespace halvyn
