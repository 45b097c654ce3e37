// Copying bytes both ways between a client and a server until both
// directions have ended.
#pragma once

#include "proxy/stream.h"

namespace kestrum::sandbox {

inline constexpr std::size_t kRelayChunk = 8192;

// Copies until end of stream or an error; nothing is reported.
void copy_stream(ProxyStream& from, ProxyStream& to);

// Client-to-server on a second thread, server-to-client on this one; each
// direction half-closes its destination when its source ends, so the other
// direction keeps flowing. Returns when both are done; everything is closed.
void relay(ProxyStream client, ProxyStream server);

}  // namespace kestrum::sandbox
