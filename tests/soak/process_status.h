// Resident memory and thread count of a process, from /proc/PID/status.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <fstream>
#include <string>

namespace halvyn::testing::soak {

struct ProcessStatus {
  uint64_t residentKib = 0;  // VmRSS
  int threads = 0;           // Threads
  bool ok = false;

  static ProcessStatus Read(pid_t pid) {
    ProcessStatus status;
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    while (file >> key) {
      if (key == "VmRSS:") file >> status.residentKib;
      if (key == "Threads:") file >> status.threads;
      file.ignore(4096, '\n');
    }
    status.ok = status.residentKib > 0 && status.threads > 0;
    return status;
  }
};

}  // namespace halvyn::testing::soak
