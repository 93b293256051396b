// What the benchmark reads about the server from /proc: CPU time from the
// scheduler's per-thread statistics, resident memory, and the kernel's UDP
// socket table (receive queue and drops per local port).
// Any thread; every call reads /proc afresh.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>

namespace halvyn::bench {

// Nanoseconds of CPU the process's live threads have run (the first field of
// /proc/PID/task/*/schedstat, summed); 0 when the process is gone.
uint64_t ProcessCpuNs(pid_t pid);

// VmRSS and VmHWM of /proc/PID/status, in KiB; 0 when unknown.
uint64_t ResidentKib(pid_t pid);
uint64_t PeakResidentKib(pid_t pid);

struct UdpSocketCounters {
  uint64_t queuedBytes = 0;  // bytes waiting in receive queues now
  uint64_t drops = 0;        // datagrams dropped at those sockets so far
  int sockets = 0;
};

// Sums /proc/net/udp (this process's network namespace) over the sockets
// whose local port the predicate accepts. A thread that has entered another
// namespace reads that one's table at /proc/thread-self/net/udp.
UdpSocketCounters ReadUdpSockets(const std::function<bool(uint16_t port)>& accept,
                                 const char* table = "/proc/net/udp");

}  // namespace halvyn::bench
