// A throw-away folder tree under /tmp for tests that resolve real paths.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace kestrum::sandbox::testing {

class TempTree {
 public:
  TempTree() {
    char pattern[] = "/tmp/kestrum-policy-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    // /tmp itself may be a link (it is on macOS); every expectation is
    // written against the resolved root.
    root_ = std::filesystem::canonical(pattern).string();
  }
  ~TempTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The absolute path of `relative` ("" is the root itself).
  std::string at(const std::string& relative) const {
    return relative.empty() ? root_ : root_ + "/" + relative;
  }
  void folder(const std::string& relative) const {
    std::filesystem::create_directories(at(relative));
  }
  void file(const std::string& relative) const { std::ofstream(at(relative)) << "x"; }
  // `target` is written into the link as given (relative targets stay relative).
  void link(const std::string& relative, const std::string& target) const {
    if (::symlink(target.c_str(), at(relative).c_str()) != 0)
      throw std::runtime_error("symlink failed");
  }

 private:
  std::string root_;
};

}  // namespace kestrum::sandbox::testing
