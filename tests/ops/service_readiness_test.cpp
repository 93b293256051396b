#include "app/service_readiness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace halvyn {
namespace {

class ServiceReadinessTest : public ::testing::Test {
 protected:
  ServiceReadiness Make(bool waitForConsole, bool waitForRelay) {
    return ServiceReadiness(waitForConsole, waitForRelay,
                            [this](std::string_view text) { sent_.emplace_back(text); });
  }
  std::vector<std::string> sent_;
};

TEST_F(ServiceReadinessTest, WithStartReadyOnlyOnceConsoleListensAndRelayRuns) {
  ServiceReadiness readiness = Make(true, true);
  readiness.RelayState(true, 7002);
  EXPECT_FALSE(readiness.ready());
  EXPECT_EQ(sent_, (std::vector<std::string>{"STATUS=Relay server running on UDP port 7002"}));
  readiness.ConsoleListening();
  EXPECT_TRUE(readiness.ready());
  EXPECT_EQ(sent_.back(), "READY=1\nSTATUS=Relay server running on UDP port 7002");
  readiness.RelayState(true, 7002);  // other window changes send nothing
  EXPECT_EQ(sent_.size(), 2u);
}

TEST_F(ServiceReadinessTest, RelayThatCouldNotBindKeepsTheServiceStartingUntilItRuns) {
  ServiceReadiness readiness = Make(true, true);
  readiness.RelayState(false, 0);
  readiness.ConsoleListening();
  EXPECT_FALSE(readiness.ready());
  EXPECT_EQ(sent_, (std::vector<std::string>{"STATUS=Relay server stopped"}));
  readiness.RelayState(true, 7003);  // the operator picked another port and pressed Start
  EXPECT_TRUE(readiness.ready());
  EXPECT_EQ(sent_.back(), "READY=1\nSTATUS=Relay server running on UDP port 7003");
}

TEST_F(ServiceReadinessTest, WithoutStartReadyWhenTheConsoleListensAndStatusFollowsStartStop) {
  ServiceReadiness readiness = Make(true, false);
  readiness.RelayState(false, 0);
  readiness.ConsoleListening();
  EXPECT_EQ(sent_.back(), "READY=1\nSTATUS=Relay server stopped");
  readiness.RelayState(true, 7002);
  readiness.RelayState(false, 0);
  EXPECT_EQ(sent_,
            (std::vector<std::string>{
                "STATUS=Relay server stopped", "READY=1\nSTATUS=Relay server stopped",
                "STATUS=Relay server running on UDP port 7002", "STATUS=Relay server stopped"}));
}

TEST_F(ServiceReadinessTest, WithoutConsoleTheRelayAloneMakesItReady) {
  ServiceReadiness readiness = Make(false, true);
  readiness.RelayState(true, 7002);
  EXPECT_EQ(sent_,
            (std::vector<std::string>{"READY=1\nSTATUS=Relay server running on UDP port 7002"}));
}

TEST_F(ServiceReadinessTest, StoppingIsSentOnceAndEndsEveryLaterStatus) {
  ServiceReadiness readiness = Make(true, true);
  readiness.RelayState(true, 7002);
  readiness.ConsoleListening();
  readiness.Stopping();
  readiness.Stopping();
  readiness.RelayState(false, 0);  // the close stops the relay
  EXPECT_EQ(sent_,
            (std::vector<std::string>{"STATUS=Relay server running on UDP port 7002",
                                      "READY=1\nSTATUS=Relay server running on UDP port 7002",
                                      "STOPPING=1\nSTATUS=Shutting down"}));
}

}  // namespace
}  // namespace halvyn
