// Work done inside one rig namespace from the test process itself, without
// moving the test process: the work runs on a short-lived thread that has
// entered the namespace (setns), and the calling thread waits for it.
//
// Sockets opened by the work belong to that namespace for their whole life,
// also after the thread has ended: a test can hold a port there, or talk to a
// server that listens on the namespace's own loopback.
#pragma once

#include <functional>
#include <string>

namespace halvyn::testing::rig {

// Runs work on a new thread inside the named network namespace (as created by
// `ip netns add`, found under /run/netns) and waits for it. Returns false,
// without running work, when the namespace cannot be entered. Needs root.
bool RunInNetworkNamespace(const std::string& name, const std::function<void()>& work);

}  // namespace halvyn::testing::rig
