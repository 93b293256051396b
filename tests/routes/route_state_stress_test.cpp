// Several threads allocate, release, reset and empty the map at once. Run it
// under ThreadSanitizer; in every build the bookkeeping must stay sound.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "routes/route_state.h"
#include "tests/routes/route_fakes.h"

namespace halvyn {
namespace {

constexpr int kOperationsPerThread = 20000;

TEST(RouteStateStressTest, InvariantHoldsUnderConcurrentAllocateReleaseResetAndClear) {
  RouteState state;
  std::atomic<int> faults{0};
  std::atomic<int> grants{0};

  auto worker = [&](unsigned seed, int kind) {
    std::mt19937 random(seed);
    for (int i = 0; i < kOperationsPerThread; ++i) {
      const unsigned roll = random() % 100;
      if (kind == 0 || roll < 50) {
        if (state.AllocateRoute(testing::AlphaToBetaRequest(uint8_t(random() % 10)))) ++grants;
      } else if (roll < 90) {
        state.ReleaseRoute(RouteSlot(random() % kRouteSlotCount));
      } else if (roll < 93) {
        state.ResetForDeviceSelection(NetworkAddress(10, 0, 0, uint8_t(random())));
      } else if (roll < 95) {
        state.ClearRouteMap();
      } else {
        state.LookupRoute(uint16_t(kFirstSlotPort + random() % kRouteSlotCount));
      }
      if (i % 64 == 0 && !state.InvariantHolds()) ++faults;
    }
  };

  std::vector<std::thread> threads;
  threads.emplace_back(worker, 1u, 0);  // the relay thread: only requests
  threads.emplace_back(worker, 2u, 1);  // window-like threads: everything
  threads.emplace_back(worker, 3u, 1);
  for (auto& thread : threads) thread.join();

  EXPECT_EQ(faults.load(), 0);
  EXPECT_GT(grants.load(), 0);
  const auto fault = FindRouteStateFault(state.Snapshot());
  EXPECT_FALSE(fault.has_value()) << *fault;
}

}  // namespace
}  // namespace halvyn
