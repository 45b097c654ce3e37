#include "proxy/relay.h"

#include <array>

#include "proxy/threads.h"

namespace kestrum::sandbox {

void copy_stream(ProxyStream& from, ProxyStream& to) {
  std::array<char, kRelayChunk> buffer;
  while (true) {
    auto n = from.read(buffer);
    if (!n || *n == 0) return;
    if (!to.write_all(std::string_view(buffer.data(), *n))) return;
  }
}

void relay(ProxyStream client, ProxyStream server) {
  auto client_reader = client.try_clone();
  auto server_reader = server.try_clone();
  if (!client_reader || !server_reader) return;

  JoinedThread upstream([from = std::move(*client_reader), to = std::move(server)]() mutable {
    copy_stream(from, to);
    to.shutdown_write();
  });
  // Without the second thread only one direction could move, which would
  // hang a request-response exchange; closing tells the client at once.
  if (!upstream.started()) return;
  copy_stream(*server_reader, client);
  client.shutdown_write();
}

}  // namespace kestrum::sandbox
