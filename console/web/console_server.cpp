#include "console/web/console_server.h"

#include <httplib.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <nlohmann/json.hpp>

#include "console/web/command_request.h"
#include "console/web/console_assets.h"
#include "console/web/metrics.h"
#include "console/web/window_json.h"

namespace halvyn {

namespace {

using nlohmann::json;

void ReplyError(httplib::Response& res, int status, std::string_view message) {
  res.status = status;
  res.set_content(json{{"error", message}}.dump(), "application/json");
}

void ReplyJson(httplib::Response& res, const json& body) {
  res.status = 200;
  res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

std::string SseEvent(const json& data) {
  return "event: window\ndata: " + data.dump(-1, ' ', false, json::error_handler_t::replace) +
         "\n\n";
}

}  // namespace

ConsoleServer::ConsoleServer(CHalvynDlg& dlg, WindowMessageQueue& window,
                             ConsoleServerOptions options)
    : dlg_(dlg),
      window_(window),
      options_(std::move(options)),
      access_(options_.address, options_.token),
      server_(std::make_unique<httplib::Server>()) {
  server_->new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
  server_->set_keep_alive_timeout(1);  // idle keep-alive connections would delay Stop
  server_->set_payload_max_length(kMaxBodyBytes);
  server_->set_read_timeout(5, 0);
  server_->set_write_timeout(5, 0);
  RegisterRoutes();
}

ConsoleServer::~ConsoleServer() { Stop(); }

bool ConsoleServer::Bind(std::string& error) {
  if (!server_->bind_to_port(options_.address, options_.port)) {
    error = "cannot listen on " + options_.address + ":" + std::to_string(options_.port);
    return false;
  }
  return true;
}

void ConsoleServer::Start() {
  thread_ = std::thread([this] { server_->listen_after_bind(); });
}

void ConsoleServer::Stop() {
  changes_.Close();
  if (thread_.joinable()) {
    server_->stop();
    thread_.join();
  }
}

void ConsoleServer::RegisterRoutes() {
  using httplib::Request;
  using httplib::Response;
  using httplib::Server;

  server_->set_pre_routing_handler([this](const Request& req, Response& res) {
    if (!access_.HostAllowed(req.get_header_value("Host"))) {
      ReplyError(res, 403, "host not allowed");
      return Server::HandlerResponse::Handled;
    }
    const bool api = req.path.starts_with("/api/") || req.path == "/metrics";
    if (api && !access_.Authorized(req.get_header_value("Authorization"))) {
      res.set_header("WWW-Authenticate", "Bearer");
      ReplyError(res, 401, "token required");
      return Server::HandlerResponse::Handled;
    }
    return Server::HandlerResponse::Unhandled;
  });

  server_->set_error_handler([](const Request&, Response& res) {
    if (res.body.empty()) {
      ReplyError(res, res.status, res.status == 413 ? "request body too large" : "bad request");
    }
  });

  server_->Get("/api/window", [this](const Request&, Response& res) {
    json body;
    if (!window_.Send([&] { body = WindowJson(dlg_.View()); })) {
      ReplyError(res, 503, "window closed");
      return;
    }
    ReplyJson(res, body);
  });

  server_->Post("/api/command", [this](const Request& req, Response& res) {
    if (!ConsoleAccess::IsJsonContentType(req.get_header_value("Content-Type"))) {
      ReplyError(res, 415, "content type must be application/json");
      return;
    }
    auto parsed = ParseCommandRequest(req.body);
    if (const auto* refusal = std::get_if<CommandRequestError>(&parsed)) {
      ReplyError(res, 400, refusal->message);
      return;
    }
    const CommandRequest& request = std::get<CommandRequest>(parsed);
    bool ran = false;
    json window;
    const bool delivered = window_.Send([&] {
      ran = dlg_.RunCommand(request.command, request.controls, request.row);
      window = WindowJson(dlg_.View());
    });
    if (!delivered) {
      ReplyError(res, 503, "window closed");
      return;
    }
    if (!ran) {
      ReplyError(res, 409, "command not available");
      return;
    }
    ReplyJson(res, window);
  });

  server_->Get("/api/events", [this](const Request&, Response& res) {
    if (eventStreams_.fetch_add(1) >= kMaxEventStreams) {
      eventStreams_.fetch_sub(1);
      ReplyError(res, 503, "too many event streams");
      return;
    }
    struct Stream {
      uint64_t seenVersion = UINT64_MAX;
      uint64_t logEpoch = 0;
      uint64_t logOffset = 0;
    };
    auto stream = std::make_shared<Stream>();
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, stream](size_t, httplib::DataSink& sink) {
          if (changes_.closing()) {
            sink.done();
            return false;
          }
          const uint64_t version =
              changes_.WaitPast(stream->seenVersion, std::chrono::milliseconds(1000));
          if (changes_.closing() || !sink.is_writable()) return false;
          if (version == stream->seenVersion) {
            static constexpr char kHeartbeat[] = ": heartbeat\n\n";
            return sink.write(kHeartbeat, sizeof kHeartbeat - 1);
          }
          json data;
          const bool first = stream->seenVersion == UINT64_MAX;
          const bool delivered = window_.Send([&] {
            const MessageLog& log = dlg_.messageLog();
            const auto increment = first ? std::nullopt : log.Since(stream->logEpoch, stream->logOffset);
            data = WindowJson(dlg_.View(/*withLog=*/!increment), /*withLog=*/!increment);
            if (increment) {
              data["log"] = {{"epoch", log.epoch()},
                             {"offset", stream->logOffset},
                             {"append", Latin1ToUtf8(*increment)}};
            }
            stream->logEpoch = log.epoch();
            stream->logOffset = log.end();
          });
          stream->seenVersion = version;
          if (!delivered) return false;  // the window has ended
          const std::string event = SseEvent(data);
          return sink.write(event.data(), event.size());
        },
        [this](bool) { eventStreams_.fetch_sub(1); });
  });

  server_->Get("/metrics", [this](const Request&, Response& res) {
    MetricsGauges gauges;
    gauges.clientsOnline = dlg_.clientTable().count();
    gauges.eventStreams = std::min(eventStreams_.load(), kMaxEventStreams);
    gauges.routesAllocated = std::popcount(dlg_.routeState().routeSlotMask());
    MetricsGauges::Window window;
    if (window_.Send([&] {
          const WindowView view = dlg_.View(/*withLog=*/false);
          window.relayRunning = dlg_.relayServer().running();
          window.routesActive = int(view.forwardRoutes.size());
          window.lanDevices = int(view.lanDevices.size());
        })) {
      gauges.window = window;
    }
    res.set_header("Cache-Control", "no-store");
    res.set_content(RenderMetrics(gauges), kMetricsContentType);
  });

  server_->Get("/", [](const Request&, Response& res) { ServeAsset("index.html", res); });
  server_->Get(R"(/([a-z0-9_.-]+\.(?:js|css|svg|png|html)))", [](const Request& req, Response& res) {
    ServeAsset(req.matches[1].str(), res);
  });
}

}  // namespace halvyn
