// The way out of the sandbox's own network namespace to the launcher's
// proxy. The command's namespace has nothing but a loopback interface, on
// which 127.0.0.1:<port> is a listener; a relay process left behind in the
// launcher's namespace accepts on it and connects each connection to the
// proxy at the same address there. Nothing else in the sandbox's namespace
// leads anywhere.
#pragma once

#include <cstdint>

#include "base/result.h"
#include "base/unique_fd.h"

namespace kestrum::sandbox {

// Before the namespaces change: starts the relay, detached from this
// process (it is not the command's child and holds none of its standard
// descriptors), and returns the channel over which it waits for the
// listener. The relay ends when this process (later the command) ends.
Result<UniqueFd> start_namespace_relay(std::uint16_t port);

// Inside the new network namespace: brings the loopback interface up.
Status bring_loopback_up();

// Inside the new network namespace: listens on 127.0.0.1:port and hands the
// listener to the relay.
Status hand_over_listener(const UniqueFd& channel, std::uint16_t port);

}  // namespace kestrum::sandbox
