#include "bench/measurement.h"

#include <chrono>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <thread>

namespace halvyn::bench {

ServerProbe::Reading ServerProbe::Read() const {
  Reading reading;
  reading.wallNs = NowNs();
  reading.cpuNs = ProcessCpuNs(pid_);
  const uint16_t port = port_;
  reading.socket = ReadUdpSockets([port](uint16_t p) { return p == port; });
  return reading;
}

bool ServerProbe::WaitQueueEmpty(int maxMs) const {
  const uint64_t end = NowNs() + uint64_t(maxMs) * 1000000;
  const uint16_t port = port_;
  for (;;) {
    if (ReadUdpSockets([port](uint16_t p) { return p == port; }).queuedBytes == 0) return true;
    if (NowNs() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

ResultLine::ResultLine(std::string_view scenario, std::string_view target, std::string_view phase) {
  text_ << "result scenario=" << scenario << " target=" << target << " phase=" << phase;
}

ResultLine& ResultLine::Add(std::string_view key, double value) {
  text_ << ' ' << key << '=';
  if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15)
    text_ << int64_t(value);
  else
    text_ << std::setprecision(6) << value;
  return *this;
}

ResultLine& ResultLine::Add(std::string_view key, std::string_view value) {
  text_ << ' ' << key << '=' << value;
  return *this;
}

void ResultLine::Print() const {
  std::cout << text_.str() << std::endl;
}

}  // namespace halvyn::bench
