// One connected byte stream (TCP or Unix-domain) behind one interface. The
// stream owns its descriptor; dropping it closes the connection.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "base/result.h"
#include "base/unique_fd.h"

namespace kestrum::sandbox {

class ProxyStream {
 public:
  enum class Kind { kTcp, kUnixDomain };

  ProxyStream(UniqueFd fd, Kind kind) : fd_(std::move(fd)), kind_(kind) {}

  // Up to buffer.size() bytes; 0 means end of stream. Retries EINTR.
  Result<std::size_t> read(std::span<char> buffer);
  // Writes every byte or fails. Never raises SIGPIPE.
  Status write_all(std::string_view bytes);
  // As much as the connection takes without waiting, possibly nothing.
  // Never raises SIGPIPE.
  Result<std::size_t> write_some(std::string_view bytes);
  // Ends the sending half only, so the peer sees end of stream while the
  // other direction keeps flowing.
  void shutdown_write();

  int fd() const { return fd_.get(); }
  Kind kind() const { return kind_; }

 private:
  UniqueFd fd_;
  Kind kind_;
};

}  // namespace kestrum::sandbox
