// The request-header deadline on a fake time line.
#include "console/web/header_deadlines.h"

#include <gtest/gtest.h>

#include <vector>

namespace halvyn {
namespace {

using std::chrono::milliseconds;

TEST(HeaderDeadlines, CutsOnlyWaitersPastTheLimitAndEachOnce) {
  HeaderDeadlines deadlines(milliseconds(1000));
  const HeaderDeadlines::Clock::time_point t0{};
  std::vector<int> cut;
  auto record = [&](int fd) { cut.push_back(fd); };
  deadlines.Waiting(5, t0);
  deadlines.Waiting(6, t0 + milliseconds(300));
  deadlines.Waiting(7, t0);
  deadlines.Forget(7);  // its header came
  EXPECT_EQ(deadlines.CutOverdue(t0 + milliseconds(999), record), 0);
  EXPECT_EQ(deadlines.CutOverdue(t0 + milliseconds(1000), record), 1);
  EXPECT_EQ(cut, std::vector<int>{5});
  EXPECT_EQ(deadlines.CutOverdue(t0 + milliseconds(1200), record), 0);
  // Waiting again (the next request on a kept-alive connection) restarts the time.
  deadlines.Waiting(6, t0 + milliseconds(1200));
  EXPECT_EQ(deadlines.CutOverdue(t0 + milliseconds(2199), record), 0);
  EXPECT_EQ(deadlines.CutOverdue(t0 + milliseconds(2200), record), 1);
  EXPECT_EQ(cut, (std::vector<int>{5, 6}));
}

}  // namespace
}  // namespace halvyn
