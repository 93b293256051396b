// Hostile connections to the console, held from 127.0.0.2 on a thread of
// their own while the state scenario measures the operator's view from
// 127.0.0.1: "slow" (24 connections sending a request header one byte per
// second), "streams" (40 event streams, read as they come) or "idle" (1,100
// connections that send nothing). A connection the server closes is opened
// again a second later, so the pressure holds for as long as the object lives.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace halvyn::bench {

class ConsolePressure {
 public:
  // False for an unknown kind.
  static bool KnownKind(const std::string& kind);
  ConsolePressure(const std::string& kind, uint16_t consolePort);
  ~ConsolePressure();
  ConsolePressure(const ConsolePressure&) = delete;
  ConsolePressure& operator=(const ConsolePressure&) = delete;

  // Connections opened so far, and closed by the server so far.
  uint64_t opened() const { return opened_; }
  uint64_t closedByServer() const { return closed_; }

 private:
  struct Peer {
    int fd = -1;
    size_t sent = 0;  // header bytes sent (slow)
    int64_t reopenAtMs = 0;
  };
  void Run();
  void Open(Peer& peer);

  std::string kind_;
  uint16_t port_;
  std::vector<Peer> peers_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> opened_{0};
  std::atomic<uint64_t> closed_{0};
  std::thread thread_;
};

}  // namespace halvyn::bench
