// One simulated remote device: its record, its socket to the relay, and the
// commands of the scripted mode. Every datagram it sends and receives is
// printed as one line (datagram_text.h); other lines are
//
//   expect L ok | expect L timeout
//   echo TEXT
//   error TEXT
//
// Threads: Execute runs on one thread (main); the receive thread and the
// keep-alive thread are the session's own; Stop may be called from any thread
// (a signal handler's thread). The destructor stops and joins both threads.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "platform/mutex.h"
#include "platform/udp_socket.h"
#include "relay/client_record.h"
#include "relay/relay_client_codec.h"
#include "tools/client/client_command.h"
#include "tools/client/line_output.h"

namespace halvyn {

class ClientSession {
 public:
  // socket: bound, owned by the caller, outlives the session. server: the relay.
  ClientSession(UdpSocket& socket, Ipv4Endpoint server, const ClientRecord& self, LineOutput& out);
  ~ClientSession();
  ClientSession(const ClientSession&) = delete;
  ClientSession& operator=(const ClientSession&) = delete;

  // Starts the receive thread, and with an interval above 0 the keep-alive
  // thread, which sends "k" every intervalMs.
  void Start(uint32_t keepAliveIntervalMs);

  // Runs one command; false once the session should end ("quit", or Stop).
  bool Execute(const ClientCommand& command);

  // Ends waits and both threads and closes the socket. Any thread; idempotent.
  void Stop();

  // True when a command failed: a bad address, a failed send, an expect that
  // timed out, or a line that could not be parsed (ReportError).
  bool failed() const;
  // Prints "error TEXT" and marks the session failed.
  void ReportError(const std::string& text);
  // When a command failed while the client is logged in (a login sent and no
  // logout since), sends the logout, so the relay does not go on listing a
  // client that has ended. Execute's thread, before Stop.
  void LogOutAfterFailure();

 private:
  void Send(const Datagram& datagram, Ipv4Endpoint destination);
  ClientRecord Self();
  void ReceiveLoop();
  void KeepAliveLoop(uint32_t intervalMs);
  void Remember(std::span<const uint8_t> datagram) REQUIRES(mutex_);
  std::optional<Ipv4Endpoint> AddressOf(const std::string& name);
  // Waits until the deadline or Stop; false after Stop.
  bool WaitUntil(std::chrono::steady_clock::time_point deadline);
  bool Expect(uint8_t letter, uint32_t timeoutMs);
  void Route(const RouteArguments& arguments);

  UdpSocket& socket_;
  const Ipv4Endpoint server_;
  LineOutput& out_;

  mutable Mutex mutex_;
  std::condition_variable changed_;  // with mutex_: a datagram arrived, or Stop
  ClientRecord self_ GUARDED_BY(mutex_);
  bool stopped_ GUARDED_BY(mutex_) = false;
  bool failed_ GUARDED_BY(mutex_) = false;
  // Received datagrams per letter not yet claimed by an expect.
  std::array<uint32_t, 256> unclaimed_ GUARDED_BY(mutex_) = {};
  // Where the last "h" list (and "g") showed each name.
  std::map<std::string, Ipv4Endpoint, std::less<>> addresses_ GUARDED_BY(mutex_);

  bool loggedIn_ = false;  // Execute's thread only

  std::thread receiver_;
  std::thread keepAlive_;
};

}  // namespace halvyn
