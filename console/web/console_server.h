// The console's HTTP side: the page, the JSON API and the event stream.
//
//   GET  /api/window   the window as JSON
//   POST /api/command  {"command": NAME, "controls": {...}, "row": N}; returns the window
//   GET  /api/events   Server-Sent Events: "window" after every change
//
// One event-driven HTTP thread (libmicrohttpd, epoll) serves every connection:
// a slow, idle or streaming connection costs memory, not a thread. Work on the
// window is posted to the window thread while the connection is suspended, so
// the HTTP thread never waits for the window. A timer thread wakes the event
// streams (changes, heartbeats) and cuts connections whose request header is
// overdue. Start/Stop from the owning thread; WindowChanged from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <unordered_set>

#include "console/console_window.h"
#include "console/web/console_access.h"
#include "console/web/console_limits.h"
#include "console/web/header_deadlines.h"
#include "platform/message_queue.h"
#include "platform/metrics_writer.h"
#include "platform/mutex.h"
#include "platform/worker.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace halvyn {

struct ConsoleServerOptions {
  std::string address = "127.0.0.1";
  uint16_t port = 7080;
  std::string token;  // required from clients when not empty
  ConsoleLimits limits;
};

class ConsoleServer {
 public:
  static constexpr size_t kMaxBodyBytes = 64 * 1024;
  // Per-connection buffer for the request line and headers; longer ones are refused.
  static constexpr size_t kConnectionMemoryBytes = 32 * 1024;
  // A connection silent this long is closed (a header must also meet its deadline).
  static constexpr int kIdleSeconds = 30;
  // An event stream without changes gets a comment line this often.
  static constexpr std::chrono::milliseconds kHeartbeat{1000};
  // The streams are woken at most this often: the changes in between (a
  // burst of log lines while the relay is busy) make one event.
  static constexpr std::chrono::milliseconds kEventGap{20};
  // A stream whose log was cut gets the whole log again at most this often.
  static constexpr std::chrono::milliseconds kWholeLogGap{1000};
  // At Stop, how long answers the window has made may still take to leave.
  static constexpr std::chrono::milliseconds kLastAnswersWait{2000};

  // window is reached on the window thread only, through the window's queue;
  // metrics are the subsystems' parts of the metrics page, read on the window
  // thread too. Everything must outlive the server.
  ConsoleServer(ConsoleWindow& window, WindowMessageQueue& queue,
                std::span<const MetricsSource* const> metrics, ConsoleServerOptions options);
  ~ConsoleServer();
  ConsoleServer(const ConsoleServer&) = delete;
  ConsoleServer& operator=(const ConsoleServer&) = delete;

  // Binds the listening socket (never shared with another process); false,
  // with the reason, when it cannot.
  bool Bind(std::string& error);
  // Starts serving; false (with the reason) when the server cannot start.
  bool Start(std::string& error);
  // Ends every event stream, stops serving and joins the threads.
  void Stop();

  // Window thread: the window changed (wired to the window's change listener).
  void WindowChanged();
  const ConsoleServerOptions& options() const { return options_; }

  struct Reply;
  struct Request;
  struct EventStream;

 private:
  friend struct ConsoleCallbacks;  // libmicrohttpd's callbacks, on the HTTP thread

  static bool Send(MHD_Connection* connection, const Reply& reply);
  // Answers a request whose header (and body) has arrived; false closes the connection.
  bool Answer(MHD_Connection* connection, Request& request);
  // Suspends the connection and runs work on the window thread; the reply
  // (503 "window closed" when the window has ended) resumes it.
  void OnWindow(MHD_Connection* connection, Request& request, std::function<void(Reply&)> run);
  bool OpenEventStream(MHD_Connection* connection);

  // The timer thread: event streams and header deadlines.
  void RunTimer();
  void WakeStreams(HeaderDeadlines::Clock::time_point now);

  ConsoleWindow& dlg_;
  WindowMessageQueue& window_;
  const std::span<const MetricsSource* const> metrics_;
  ConsoleServerOptions options_;
  ConsoleAccess access_;
  HeaderDeadlines deadlines_;
  int listenFd_ = -1;
  MHD_Daemon* daemon_ = nullptr;
  Worker timer_;

  Mutex mutex_;
  std::condition_variable changed_;
  uint64_t version_ GUARDED_BY(mutex_) = 0;       // bumped by every window change
  uint64_t wokenVersion_ GUARDED_BY(mutex_) = 0;  // the version the streams were last woken for
  bool closing_ GUARDED_BY(mutex_) = false;
  std::unordered_set<EventStream*> streams_ GUARDED_BY(mutex_);
  int windowWork_ GUARDED_BY(mutex_) = 0;  // suspended connections waiting for the window
  // Requests the window answered whose answer has not been sent yet.
  int windowAnswers_ GUARDED_BY(mutex_) = 0;
};

}  // namespace halvyn
