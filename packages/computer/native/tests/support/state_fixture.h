// A ServerState over a fake desktop whose output goes to a pipe the test
// reads back.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "serve/state.h"
#include "support/fake_desktop.h"
#include "support/nonblocking_pipe.h"

namespace kestrum::computer::testing {

class StateFixture {
 public:
  explicit StateFixture(OwnIdentity own = {})
      : output_(make_pipe()), state(desktop, std::move(own), output_[1]) {}
  ~StateFixture() {
    ::close(output_[0]);
    ::close(output_[1]);
  }

  // The JSON parts of the frames written since the last call.
  std::vector<std::string> messages() {
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(output_[0], buffer, sizeof buffer)) > 0;)
      out.append(buffer, static_cast<std::size_t>(n));
    std::vector<std::string> jsons;
    for (std::size_t at = 0; at + 4 <= out.size();) {
      std::size_t length = 0;
      for (std::size_t i = 4; i-- > 0;)
        length = (length << 8) | static_cast<std::uint8_t>(out[at + i]);
      jsons.push_back(out.substr(at + 4, length));
      at += 4 + length + 4;
    }
    return jsons;
  }

  void grant(std::initializer_list<std::string> apps) {
    const std::lock_guard<std::mutex> hold(state.control_lock);
    state.control.granted = std::set<std::string>(apps);
  }
  ControlState control() {
    const std::lock_guard<std::mutex> hold(state.control_lock);
    return state.control;
  }

 private:
  static std::array<int, 2> make_pipe() { return nonblocking_pipe(); }

  std::array<int, 2> output_;

 public:
  FakeDesktop desktop;
  ServerState state;
};

inline constexpr std::string_view kTakeover = R"({"event":"owner","owner":"person"})";

}  // namespace kestrum::computer::testing
