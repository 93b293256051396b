// Reading script lines from a pipe: line ends, a last line without one, the
// end of input, and an interrupt that wakes a blocked read.
#include "platform/line_input.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

namespace halvyn {
namespace {

class LineInputTest : public ::testing::Test {
 protected:
  LineInputTest() { EXPECT_EQ(pipe(fds), 0); }
  ~LineInputTest() override {
    close(fds[0]);
    if (fds[1] >= 0) close(fds[1]);
  }
  void Write(std::string_view text) {
    ASSERT_EQ(write(fds[1], text.data(), text.size()), ssize_t(text.size()));
  }
  void CloseWriter() {
    close(fds[1]);
    fds[1] = -1;
  }
  int fds[2] = {-1, -1};
};

TEST_F(LineInputTest, LinesThenTheLastUnendedLineThenTheEnd) {
  LineInput input(fds[0]);
  Write("login\r\nconnect beta\n\nwait 1");
  CloseWriter();
  std::string line;
  for (const char* expected : {"login", "connect beta", "", "wait 1"}) {
    ASSERT_EQ(input.ReadLine(line), LineInput::Status::kLine);
    EXPECT_EQ(line, expected);
  }
  EXPECT_EQ(input.ReadLine(line), LineInput::Status::kEnd);
  EXPECT_EQ(input.ReadLine(line), LineInput::Status::kEnd);
}

TEST_F(LineInputTest, InterruptWakesABlockedReadAndEveryLaterOne) {
  LineInput input(fds[0]);
  Write("first\n");
  std::string line;
  ASSERT_EQ(input.ReadLine(line), LineInput::Status::kLine);
  std::thread interrupter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    input.Interrupt();
  });
  EXPECT_EQ(input.ReadLine(line), LineInput::Status::kInterrupted);  // the pipe stays open
  interrupter.join();
  Write("second\n");
  EXPECT_EQ(input.ReadLine(line), LineInput::Status::kInterrupted);
}

}  // namespace
}  // namespace halvyn
