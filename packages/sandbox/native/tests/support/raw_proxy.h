// A launcher whose command publishes its proxy address and then waits, so
// that a test can talk to the proxy directly, as a raw client would.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "process.h"
#include "servers.h"

namespace kestrum::testing {

inline std::string policy_with_network(const std::string& cwd, const std::string& network) {
  return R"({"version":6,"cwd":")" + cwd +
         R"(","write":[],"denyWrite":[],"denyRead":[],"denyEnv":[],"network":)" + network + "}";
}

inline ProcessOptions launcher_options(std::vector<std::string> args) {
  ProcessOptions options;
  options.argv = {bin_dir() + "/kestrum-sandbox-recorded"};
  options.argv.insert(options.argv.end(), args.begin(), args.end());
  return options;
}

// The network exercise_every_kind_of_connection() needs.
inline const std::string kEveryKindNetwork = R"({"allow":["127.0.0.1","*.allowed.test"]})";

class RawProxy : public ::testing::Test {
 protected:
  void start(const std::string& network, bool with_events) {
    const std::string script = "printf %s \"$HTTP_PROXY\" > " + dir_.path() +
                               "/address.tmp && mv " + dir_.path() + "/address.tmp " + dir_.path() +
                               "/address; while [ ! -e " + dir_.path() +
                               "/finish ]; do sleep 0.02; done; exit 0";
    std::vector<std::string> args = {"run", "--policy", policy_with_network(dir_.path(), network)};
    if (with_events) args.insert(args.end(), {"--events-fd", "9"});
    args.insert(args.end(), {"--", "/bin/sh", "-c", script});
    auto options = launcher_options(args);
    if (with_events) options.inherit = {{9, events_.write_end.get()}};
    launcher_ = std::make_unique<Process>(options);
    events_.write_end.reset();
    ASSERT_TRUE(wait_for_file(dir_.path() + "/address"));
    const std::string address = read_file(dir_.path() + "/address");
    port_ = static_cast<std::uint16_t>(std::stoi(address.substr(address.rfind(':') + 1)));
  }

  ProcessResult finish() {
    write_file(dir_.path() + "/finish", "");
    return launcher_->wait();
  }

  // Sends `request` (half-closing when asked) and returns all that comes back.
  std::string exchange(const std::string& request, bool half_close = true) {
    const int fd = connect_loopback(port_);
    EXPECT_GE(fd, 0);
    write_all_to(fd, request);
    if (half_close) ::shutdown(fd, SHUT_WR);
    std::string answer = read_to_end(fd);
    ::close(fd);
    return answer;
  }

  // Every kind of malformed, refused and failing request, a client that
  // resets mid-tunnel, and a tunnel after it; the proxy must have started
  // with kEveryKindNetwork. Each answer is checked.
  void exercise_every_kind_of_connection() {
    PeerServer echo(echo_handler);
    PeerServer closer([](int) {});  // accepts and hangs up at once
    int closed_port_fd =
        ::socket(AF_INET, SOCK_STREAM, 0);  // bound, never listening: connects are refused
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(closed_port_fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::getsockname(closed_port_fd, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string closed_port = std::to_string(ntohs(address.sin_port));
    const std::string echo_port = std::to_string(echo.port());
    const std::string closer_port = std::to_string(closer.port());

    struct Case {
      std::string request;
      std::string answer;
    };
    const std::string bad_request = "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n";
    const Case cases[] = {
        {"GET /x HTTP/1.1\r\n\r\n", bad_request},
        {"NOSPACE\r\n\r\n", bad_request},
        {"\r\n\r\n", bad_request},
        {"CONNECT 127.0.0.1:99999 HTTP/1.1\r\n\r\n", bad_request},
        {"CONNECT 127.0.0.1:" + closed_port + " HTTP/1.1\r\n\r\n",
         "HTTP/1.1 502 Bad Gateway\r\nConnection: close\r\n\r\n"},
        {"GET http://open-url.kestrum.invalid/?url=https%3A%2F%2Fa.test HTTP/1.1\r\n\r\n",
         "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\n\r\n"},
        {"POST http://open-url.kestrum.invalid/ HTTP/1.1\r\n\r\n", bad_request},
        // Cut short, or too long without a terminator: closed with no answer.
        {"GET http://127.0.0.1/ HTTP/1.1\r\n", ""},
        {std::string(16385, 'a'), ""},
        // A terminator within the first 16384 bytes is always accepted.
        {std::string(16380, 'a') + "\r\n\r\n", bad_request},
        // The tunnel carries the bytes sent with the head and ends with the client's half-close.
        {"CONNECT 127.0.0.1:" + echo_port + " HTTP/1.1\r\n\r\nping",
         "HTTP/1.1 200 Connection Established\r\n\r\nping"},
        // A server that hangs up ends the tunnel, or the forwarded exchange, with nothing more.
        {"CONNECT 127.0.0.1:" + closer_port + " HTTP/1.1\r\n\r\nhello",
         "HTTP/1.1 200 Connection Established\r\n\r\n"},
        {"GET http://127.0.0.1:" + closer_port + "/ HTTP/1.1\r\n\r\n", ""},
        // The resolver would read the host only up to the NUL: a host the
        // pattern never judged.
        {std::string("CONNECT 127.0.0.1\0.allowed.test:", 32) + echo_port + " HTTP/1.1\r\n\r\nping",
         "HTTP/1.1 502 Bad Gateway\r\nConnection: close\r\n\r\n"},
        {"CONNECT refused.test:443 HTTP/1.1\r\n\r\n",
         "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\nContent-Length: 78\r\nConnection: "
         "close\r\n\r\n"
         "The Kestrum sandbox does not allow refused.test; ask for it in network_hosts.\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(exchange(c.request), c.answer) << c.request.substr(0, 60);

    // A client that resets mid-tunnel does not disturb the proxy.
    const int fd = connect_loopback(port_);
    write_all_to(fd, "CONNECT 127.0.0.1:" + echo_port + " HTTP/1.1\r\n\r\n");
    read_head_from(fd);
    linger reset = {1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(fd);

    EXPECT_EQ(exchange("CONNECT 127.0.0.1:" + echo_port + " HTTP/1.1\r\n\r\nagain"),
              "HTTP/1.1 200 Connection Established\r\n\r\nagain");
    ::close(closed_port_fd);
  }

  TempDir dir_;
  Pipe events_;
  std::unique_ptr<Process> launcher_;
  std::uint16_t port_ = 0;
};

}  // namespace kestrum::testing
