#include "console/web/console_server.h"

#include <microhttpd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>
#include <vector>

#include "console/web/command_request.h"
#include "console/web/console_assets.h"
#include "console/web/metrics.h"
#include "console/web/window_json.h"
#include "platform/tcp_listener.h"

namespace halvyn {

namespace {

using nlohmann::json;
using Clock = HeaderDeadlines::Clock;

// How long connections closed by an earlier process may hold the port.
constexpr std::chrono::seconds kTimeWaitSeconds{61};
// Connections the kernel may queue while the server is at its connection limit.
constexpr int kListenBacklog = 128;
// How often the timer thread looks at heartbeats and header deadlines.
constexpr std::chrono::milliseconds kTimerTick{200};
// A body declared larger than this is refused at once, without reading it;
// smaller ones over kMaxBodyBytes are read and dropped, so the client sees the 413.
constexpr uint64_t kBodyDrainBytes = 1024 * 1024;

std::string Dump(const json& body) {
  return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string_view Header(MHD_Connection* connection, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return value ? value : "";
}

int ConnectionFd(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  return info ? info->connect_fd : -1;
}

}  // namespace

struct ConsoleServer::Reply {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  // A JSON body not yet serialised: the window thread builds it, the HTTP
  // thread writes it out, so the window is held no longer than for the copy.
  std::optional<json> document;
  std::vector<std::pair<const char*, std::string>> headers;

  void Json(json value) {
    status = 200;
    document = std::move(value);
  }
  void Error(int code, std::string_view message) {
    status = code;
    contentType = "application/json";
    body = Dump(json{{"error", message}});
  }
};

// What one request has gathered across libmicrohttpd's calls.
struct ConsoleServer::Request {
  std::string url;
  std::string method;
  std::string body;
  bool bodyTooLarge = false;
  std::optional<Reply> reply;     // ready to send (set before the body, or by the window)
  bool answeredByWindow = false;  // counted in windowAnswers_ until the request is done
};

// One open GET /api/events. Its connection stays suspended while it has
// nothing to send; the timer thread fills pending and resumes it.
struct ConsoleServer::EventStream {
  EventStream(ConsoleServer* owner, MHD_Connection* open) : server(owner), connection(open) {}
  ConsoleServer* server;
  MHD_Connection* connection;
  std::string pending;  // bytes to hand to libmicrohttpd, from sent on
  size_t sent = 0;
  bool suspended = false;
  bool ended = false;  // the window has ended: finish the stream
  uint64_t seenVersion = UINT64_MAX;
  uint64_t logEpoch = 0;
  uint64_t logOffset = 0;
  Clock::time_point lastEvent = Clock::now();
  Clock::time_point lastWholeLog{};  // the last window event carrying the whole log
};

// The C callbacks libmicrohttpd calls on its thread.
struct ConsoleCallbacks {
  static MHD_Result OnRequest(void* self, MHD_Connection* connection, const char* url,
                              const char* method, const char*, const char* uploadData,
                              size_t* uploadSize, void** state) {
    auto& server = *static_cast<ConsoleServer*>(self);
    auto* request = static_cast<ConsoleServer::Request*>(*state);
    if (!request) {  // the header is complete
      server.deadlines_.Forget(ConnectionFd(connection));
      request = new ConsoleServer::Request{url, method, {}, false, std::nullopt};
      *state = request;
      ConsoleServer::Reply refusal;
      if (!server.access_.HostAllowed(Header(connection, MHD_HTTP_HEADER_HOST))) {
        refusal.Error(403, "host not allowed");
        request->reply = refusal;
      } else if ((request->url.starts_with("/api/") || request->url == "/metrics") &&
                 !server.access_.Authorized(Header(connection, MHD_HTTP_HEADER_AUTHORIZATION))) {
        refusal.Error(401, "token required");
        refusal.headers.emplace_back(MHD_HTTP_HEADER_WWW_AUTHENTICATE, "Bearer");
        request->reply = refusal;
      }
      const std::string_view length = Header(connection, MHD_HTTP_HEADER_CONTENT_LENGTH);
      uint64_t declared = 0;
      std::from_chars(length.data(), length.data() + length.size(), declared);
      if (declared > kBodyDrainBytes) {
        ConsoleServer::Reply tooLarge;
        tooLarge.Error(413, "request body too large");
        return server.Send(connection, tooLarge) ? MHD_YES : MHD_NO;
      }
      return MHD_YES;
    }
    if (*uploadSize != 0) {
      if (request->body.size() + *uploadSize > ConsoleServer::kMaxBodyBytes) {
        request->bodyTooLarge = true;
      } else if (!request->bodyTooLarge) {
        request->body.append(uploadData, *uploadSize);
      }
      *uploadSize = 0;
      return MHD_YES;
    }
    return server.Answer(connection, *request) ? MHD_YES : MHD_NO;
  }

  static void OnRequestDone(void* self, MHD_Connection* connection, void** state,
                            MHD_RequestTerminationCode code) {
    auto& server = *static_cast<ConsoleServer*>(self);
    auto* request = static_cast<ConsoleServer::Request*>(*state);
    if (request && request->answeredByWindow) {
      MutexLock lock(server.mutex_);
      --server.windowAnswers_;
    }
    delete request;
    *state = nullptr;
    // A kept-alive connection waits for its next header (one that failed is closing).
    if (code == MHD_REQUEST_TERMINATED_COMPLETED_OK)
      server.deadlines_.Waiting(ConnectionFd(connection), Clock::now());
  }

  static void OnConnection(void* self, MHD_Connection* connection, void**,
                           MHD_ConnectionNotificationCode code) {
    auto& server = *static_cast<ConsoleServer*>(self);
    const int fd = ConnectionFd(connection);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      server.deadlines_.Waiting(fd, Clock::now());
    } else {
      // libmicrohttpd reports the close before it releases the descriptor, so
      // the deadline thread never shuts down a descriptor reused meanwhile.
      server.deadlines_.Forget(fd);
    }
  }

  static ssize_t OnStreamRead(void* cls, uint64_t, char* buffer, size_t max) {
    auto& stream = *static_cast<ConsoleServer::EventStream*>(cls);
    ConsoleServer& server = *stream.server;
    MutexLock lock(server.mutex_);
    if (stream.sent < stream.pending.size()) {
      const size_t count = std::min(max, stream.pending.size() - stream.sent);
      stream.pending.copy(buffer, count, stream.sent);
      stream.sent += count;
      return ssize_t(count);
    }
    std::string().swap(stream.pending);  // an event with the whole log is megabytes
    stream.sent = 0;
    if (stream.ended || server.closing_) return MHD_CONTENT_READER_END_OF_STREAM;
    // Nothing to send: rest until the timer thread has something.
    stream.suspended = true;
    MHD_suspend_connection(stream.connection);
    return 0;
  }

  static void OnStreamFreed(void* cls) {
    auto* stream = static_cast<ConsoleServer::EventStream*>(cls);
    {
      MutexLock lock(stream->server->mutex_);
      stream->server->streams_.erase(stream);
    }
    delete stream;
  }
};

ConsoleServer::ConsoleServer(ConsoleWindow& window, WindowMessageQueue& queue,
                             std::span<const MetricsSource* const> metrics,
                             ConsoleServerOptions options)
    : dlg_(window),
      window_(queue),
      metrics_(metrics),
      options_(std::move(options)),
      access_(options_.address, options_.token),
      deadlines_(std::chrono::seconds(options_.limits.headerSeconds)) {}

ConsoleServer::~ConsoleServer() {
  Stop();
  if (listenFd_ >= 0) CloseListener(listenFd_);  // bound, never started
}

bool ConsoleServer::Bind(std::string& error) {
  const auto address = ParseDotted(options_.address);
  if (address) {
    const Ipv4Endpoint local{*address, options_.port};
    int code = 0;
    listenFd_ = OpenTcpListener(local, kListenBacklog, error, &code);
    // In use while nothing listens: connections of an earlier process that
    // bound without SO_REUSEADDR are still in TIME_WAIT (at most a minute).
    // Another halvyn would accept, and then this one ends at once.
    for (auto until = Clock::now() + kTimeWaitSeconds;
         listenFd_ < 0 && code == EADDRINUSE && Clock::now() < until && !SomethingListens(local);) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      listenFd_ = OpenTcpListener(local, kListenBacklog, error, &code);
    }
  }
  if (listenFd_ < 0) {
    error = "cannot listen on " + options_.address + ":" + std::to_string(options_.port) + ": " +
            (address ? error : "not an IPv4 address");
    return false;
  }
  return true;
}

bool ConsoleServer::Start(std::string& error) {
  const ConsoleLimits& limits = options_.limits;
  daemon_ =
      MHD_start_daemon(MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr,
                       nullptr, &ConsoleCallbacks::OnRequest, this,                            //
                       MHD_OPTION_LISTEN_SOCKET, MHD_socket(listenFd_),                        //
                       MHD_OPTION_CONNECTION_LIMIT, unsigned(limits.connections),              //
                       MHD_OPTION_PER_IP_CONNECTION_LIMIT, unsigned(limits.connectionsPerIp),  //
                       MHD_OPTION_CONNECTION_TIMEOUT, unsigned(kIdleSeconds),                  //
                       MHD_OPTION_CONNECTION_MEMORY_LIMIT, size_t(kConnectionMemoryBytes),     //
                       MHD_OPTION_NOTIFY_COMPLETED, &ConsoleCallbacks::OnRequestDone, this,    //
                       MHD_OPTION_NOTIFY_CONNECTION, &ConsoleCallbacks::OnConnection, this,    //
                       MHD_OPTION_END);
  if (!daemon_) {
    listenFd_ = -1;  // whether libmicrohttpd closed it is not said: never close it twice
    error = "cannot start the console's HTTP server";
    return false;
  }
  // The timer's stop: closing_ ends its wait and every event stream's next read.
  timer_.Start([this](std::stop_token) { RunTimer(); },
               [this] {
                 {
                   MutexLock lock(mutex_);
                   closing_ = true;
                 }
                 changed_.notify_all();
               });
  return true;
}

void ConsoleServer::Stop() {
  if (!daemon_) return;
  timer_.RequestStop();
  timer_.Join();
  // libmicrohttpd must not stop with suspended connections: resume every
  // stream (each ends at its next read) and wait for the window's answers
  // (the window has ended by now, so they come at once).
  for (;;) {
    {
      MutexLock lock(mutex_);
      for (EventStream* stream : streams_) {
        if (stream->suspended) {
          stream->suspended = false;
          MHD_resume_connection(stream->connection);
        }
      }
      if (windowWork_ == 0) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // The window's last answers (the Exit that ended it, say) still have to
  // leave: give them a moment before the connections close.
  const auto deadline = Clock::now() + kLastAnswersWait;
  for (;;) {
    {
      MutexLock lock(mutex_);
      if (windowAnswers_ == 0) break;
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  MHD_stop_daemon(daemon_);  // closes the listening socket too
  daemon_ = nullptr;
  listenFd_ = -1;
}

void ConsoleServer::WindowChanged() {
  bool firstSinceWoken = false;
  {
    MutexLock lock(mutex_);
    firstSinceWoken = version_ == wokenVersion_;
    ++version_;
  }
  // Only the first change after the streams were woken wakes the timer; it
  // waits out kEventGap by itself, so a busy relay's bursts cost no switch.
  if (firstSinceWoken) changed_.notify_all();
}

bool ConsoleServer::Send(MHD_Connection* connection, const Reply& reply) {
  // The body moves into the response, which frees it once sent.
  auto* body = new std::string(reply.document ? Dump(*reply.document) : reply.body);
  MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
      body->size(), body->data(), [](void* owned) { delete static_cast<std::string*>(owned); },
      body);
  if (!response) {
    delete body;
    return false;
  }
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.contentType.c_str());
  MHD_add_response_header(response, MHD_HTTP_HEADER_X_CONTENT_TYPE_OPTIONS, "nosniff");
  for (const auto& [name, value] : reply.headers)
    MHD_add_response_header(response, name, value.c_str());
  const MHD_Result queued = MHD_queue_response(connection, unsigned(reply.status), response);
  MHD_destroy_response(response);
  return queued == MHD_YES;
}

bool ConsoleServer::Answer(MHD_Connection* connection, Request& request) {
  if (request.reply) return Send(connection, *request.reply);
  Reply reply;
  const bool get = request.method == MHD_HTTP_METHOD_GET;
  const bool post = request.method == MHD_HTTP_METHOD_POST;
  if (request.bodyTooLarge) {
    reply.Error(413, "request body too large");
  } else if (get && request.url == "/api/window") {
    OnWindow(connection, request, [this](Reply& out) { out.Json(WindowJson(dlg_.View())); });
    return true;
  } else if (post && request.url == "/api/command") {
    if (!ConsoleAccess::IsJsonContentType(Header(connection, MHD_HTTP_HEADER_CONTENT_TYPE))) {
      reply.Error(415, "content type must be application/json");
      return Send(connection, reply);
    }
    auto parsed = ParseCommandRequest(request.body);
    if (const auto* refusal = std::get_if<CommandRequestError>(&parsed)) {
      reply.Error(400, refusal->message);
      return Send(connection, reply);
    }
    OnWindow(connection, request, [this, command = std::get<CommandRequest>(parsed)](Reply& out) {
      if (!dlg_.RunCommand(command.command, command.controls, command.row)) {
        out.Error(409, "command not available");
      } else {
        out.Json(WindowJson(dlg_.View()));
      }
    });
    return true;
  } else if (get && request.url == "/api/events") {
    return OpenEventStream(connection);
  } else if (get && request.url == "/metrics") {
    MetricsGauges gauges;
    {
      MutexLock lock(mutex_);
      gauges.eventStreams = int(streams_.size());
    }
    OnWindow(connection, request, [this, gauges](Reply& out) mutable {
      const WindowView view = dlg_.View(/*withLog=*/false);
      gauges.window = MetricsGauges::Window{
          view.status.relayRunning, int(view.forwardRoutes.size()), int(view.lanDevices.size())};
      out.status = 200;
      out.contentType = kMetricsContentType;
      out.body = RenderMetrics(metrics_, gauges);
      out.headers.emplace_back(MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    });
    return true;
  } else if (get) {
    const std::string_view path = request.url;
    const ConsoleAsset* asset = FindConsoleAsset(path == "/" ? "index.html" : path.substr(1));
    if (asset) {
      reply.contentType = asset->contentType;
      reply.body = asset->body;
      reply.headers = {
          {MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache"},
          {MHD_HTTP_HEADER_CONTENT_SECURITY_POLICY, "default-src 'self'; frame-ancestors 'none'"}};
    } else {
      reply.Error(404, "not found");
    }
  } else {
    reply.Error(post ? 404 : 405, post ? "not found" : "method not allowed");
  }
  return Send(connection, reply);
}

namespace {

// Resumes a suspended connection once its window work has run, or when the
// work is dropped unrun because the window has ended.
class WindowWork {
 public:
  explicit WindowWork(std::function<void()> finish) : finish_(std::move(finish)) {}
  ~WindowWork() { Finish(); }
  void Finish() {
    if (auto finish = std::exchange(finish_, nullptr)) finish();
  }

 private:
  std::function<void()> finish_;
};

}  // namespace

void ConsoleServer::OnWindow(MHD_Connection* connection, Request& request,
                             std::function<void(Reply&)> run) {
  {
    MutexLock lock(mutex_);
    ++windowWork_;
    ++windowAnswers_;
  }
  request.answeredByWindow = true;
  MHD_suspend_connection(connection);
  Request* waiting = &request;
  auto work = std::make_shared<WindowWork>([this, connection, waiting] {
    if (!waiting->reply) waiting->reply.emplace().Error(503, "window closed");
    MHD_resume_connection(connection);
    MutexLock lock(mutex_);
    --windowWork_;
  });
  window_.Post([work, waiting, run = std::move(run)] {
    Reply reply;
    run(reply);
    waiting->reply = std::move(reply);
    work->Finish();
  });
}

bool ConsoleServer::OpenEventStream(MHD_Connection* connection) {
  auto* stream = new EventStream(this, connection);
  {
    MutexLock lock(mutex_);
    if (int(streams_.size()) >= options_.limits.eventStreams) {
      delete stream;
      Reply reply;
      reply.Error(503, "too many event streams");
      return Send(connection, reply);
    }
    streams_.insert(stream);
  }
  MHD_Response* response =
      MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, &ConsoleCallbacks::OnStreamRead,
                                        stream, &ConsoleCallbacks::OnStreamFreed);
  if (!response) {
    ConsoleCallbacks::OnStreamFreed(stream);
    return false;
  }
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
  MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
  MHD_add_response_header(response, MHD_HTTP_HEADER_X_CONTENT_TYPE_OPTIONS, "nosniff");
  const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
  MHD_destroy_response(response);  // the connection holds it (and frees the stream with it)
  changed_.notify_all();           // its first event
  return queued == MHD_YES;
}

void ConsoleServer::RunTimer() {
  Clock::time_point lastWake{};
  for (;;) {
    {
      MutexLock lock(mutex_);
      if (closing_) return;
      // A change made while the streams were last woken is not waited for.
      if (version_ == wokenVersion_) WaitLocked(mutex_, changed_, Clock::now() + kTimerTick);
      // Changes that come faster than kEventGap make one event: a busy relay
      // logs in bursts, and each event is the whole window.
      const Clock::time_point next = lastWake + kEventGap;
      while (!closing_ && Clock::now() < next) WaitLocked(mutex_, changed_, next);
      if (closing_) return;
    }
    const Clock::time_point now = Clock::now();
    lastWake = now;
    deadlines_.CutOverdue(now, ShutdownConnection);
    WakeStreams(now);
  }
}

void ConsoleServer::WakeStreams(Clock::time_point now) {
  // Streams that rest (suspended, all sent) and have not seen the latest
  // version: they stay suspended, and so alive, until this thread resumes them.
  std::vector<EventStream*> behind;
  uint64_t version = 0;
  {
    MutexLock lock(mutex_);
    version = version_;
    wokenVersion_ = version;
    for (EventStream* stream : streams_) {
      if (stream->suspended && stream->seenVersion != version) behind.push_back(stream);
    }
  }
  std::vector<std::string> events(behind.size());
  const bool delivered = !behind.empty() && window_.Send([&] {
    const MessageLog& log = dlg_.messageLog();
    // The window without its log, serialised once for all the streams, its
    // closing brace left off so that each stream's log increment can follow.
    std::string withoutLog;
    for (size_t i = 0; i < behind.size(); ++i) {
      EventStream& stream = *behind[i];
      const bool first = stream.seenVersion == UINT64_MAX;
      const auto increment = first ? std::nullopt : log.Since(stream.logEpoch, stream.logOffset);
      if (!increment && !first) {
        // The log was cut since this stream's last event: a busy relay cuts it
        // several times a second, and each whole log is megabytes.
        if (now - stream.lastWholeLog < kWholeLogGap) continue;  // held back
        stream.lastWholeLog = now;
      }
      std::string data;
      if (increment) {
        if (withoutLog.empty()) {
          withoutLog = Dump(WindowJson(dlg_.View(/*withLog=*/false), /*withLog=*/false));
          withoutLog.pop_back();
        }
        // Written directly: the same bytes as a JSON dump, without building
        // a document for what may be a long run of lines.
        data = withoutLog + ",\"log\":" +
               LogIncrementJson(log.epoch(), stream.logOffset, *increment,
                                log.LineTimes(stream.logOffset)) +
               "}";
      } else {
        data = WindowJsonText(dlg_.View());
      }
      stream.logEpoch = log.epoch();
      stream.logOffset = log.end();
      events[i] = "event: window\ndata: " + data + "\n\n";
    }
  });
  MutexLock lock(mutex_);
  for (size_t i = 0; i < behind.size(); ++i) {
    EventStream& stream = *behind[i];
    // Held back: stays suspended and behind, for a later wake (at most kTimerTick away).
    if (delivered && events[i].empty()) continue;
    stream.seenVersion = version;
    if (delivered) {
      stream.pending = std::move(events[i]);
    } else {
      stream.ended = true;  // the window has ended
    }
    stream.lastEvent = now;
    stream.suspended = false;
    MHD_resume_connection(stream.connection);
  }
  for (EventStream* stream : streams_) {
    if (stream->suspended && now - stream->lastEvent >= kHeartbeat) {
      stream->pending = ": heartbeat\n\n";
      stream->lastEvent = now;
      stream->suspended = false;
      MHD_resume_connection(stream->connection);
    }
  }
}

}  // namespace halvyn
