// Lets a fuzzer that binds sockets do it in a network namespace of its own,
// so the ports it takes never collide with anything else on the machine and
// nothing it sends leaves the process's namespace.
#pragma once

namespace halvyn::fuzzing {

// Moves the calling process into a new network namespace (loopback brought
// up). False, and nothing changed, without the rights to do so (needs root).
// Call once, before any thread starts.
bool EnterPrivateNetwork();

}  // namespace halvyn::fuzzing
