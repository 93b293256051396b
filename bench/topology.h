// The addresses of the network the abuse and storm scenarios run over
// (run_benchmarks.sh builds it): the server in a network namespace of its
// own at 10.77.0.1, joined by a veth to the load generator's namespace, which
// holds every other address on its end of the veth. Sources outside
// 127.0.0.0/8, so that the server treats each as a host of its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/ipv4.h"

namespace halvyn::bench {

// Client addresses run from 10.77.1.1 in rows of 200; the script adds this many.
constexpr size_t kTopologyClients = 600;

inline uint32_t TopologyServer() {
  return NetworkAddress(10, 77, 0, 1);
}
// Attacker k (0 to 5): 10.77.0.2 to 10.77.0.7.
inline uint32_t TopologyAttacker(size_t k) {
  return NetworkAddress(10, 77, 0, uint8_t(2 + k));
}
// The host whose address an attacker forges.
inline uint32_t TopologyVictim() {
  return NetworkAddress(10, 77, 0, 9);
}
// Client i: a host of its own.
inline uint32_t TopologyClient(size_t i) {
  return NetworkAddress(10, 77, uint8_t(1 + i / 200), uint8_t(1 + i % 200));
}

}  // namespace halvyn::bench
