// Descriptors that are close-on-exec from the start: a pipe, a socket and an
// accepted connection. Linux sets the flag in the same call (pipe2, the
// SOCK_CLOEXEC type flag, accept4); Apple has none of those, so there the
// flag is set right after. In that gap another thread's fork and exec
// could carry the descriptor into a new program: code that starts
// programs while other threads run uses posix_spawn with
// POSIX_SPAWN_CLOEXEC_DEFAULT on Apple for that reason.
#pragma once

#include "base/result.h"
#include "base/unique_fd.h"

namespace kestrum {

struct PipeEnds {
  UniqueFd read;
  UniqueFd write;
};

// Each fails with the errno of the call that failed.
Result<PipeEnds, int> cloexec_pipe();
Result<UniqueFd, int> cloexec_socket(int domain, int type, int protocol);
Result<UniqueFd, int> cloexec_accept(int listener);

// Both ends of a connected pair of Unix-domain stream sockets.
Result<PipeEnds, int> cloexec_socket_pair();

}  // namespace kestrum
