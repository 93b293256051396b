// Waiting for a child process that a test started.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>

namespace halvyn::testing {

// Polls for pid's end for up to timeout and reaps it; returns its exit status
// (128 + the signal number when a signal ended it), or nothing if it still runs.
// pid must be a child of this process and greater than 0.
std::optional<int> WaitForChildExit(pid_t pid, std::chrono::milliseconds timeout);

}  // namespace halvyn::testing
