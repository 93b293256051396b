// Random bytes and malformed HTTP at the console port, one connection at a
// time: each request is sent whole, the write side shut, the answer read for
// a moment and the connection closed, so no request holds a console worker
// for its read timeout. None of them is a valid command.
//
// Runs on its own thread, inside the PC namespace, until stopped.
#pragma once

#include <atomic>
#include <cstdint>
#include <random>
#include <string>
#include <thread>

#include "platform/ipv4.h"

namespace halvyn::testing::soak {

class ConsoleNoise {
 public:
  ConsoleNoise(uint64_t seed, std::string networkNamespace, Ipv4Endpoint console, int64_t everyMs);
  ~ConsoleNoise();
  void Start();
  void Stop();

  uint64_t connections() const { return connections_.load(); }
  uint64_t answered() const { return answered_.load(); }  // an HTTP status line came back

 private:
  void Run();
  std::string NextRequest();
  bool Exchange(const std::string& request);

  std::mt19937_64 random_;
  std::string namespace_;
  Ipv4Endpoint console_;
  int64_t everyMs_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> connections_{0};
  std::atomic<uint64_t> answered_{0};
  std::thread thread_;
};

}  // namespace halvyn::testing::soak
