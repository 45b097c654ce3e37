// Throw-away folders and whole-file reads and writes for tests.
#pragma once

#include <string>

namespace kestrum::testing {

// A fresh folder under /tmp, removed with everything in it when it ends.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Writes `content` to `path`, replacing what was there; throws
// std::runtime_error when it cannot.
void write_file(const std::string& path, const std::string& content);
// Replaces the file at `path` atomically: a reader sees the old or the new.
// Throws when it cannot.
void replace_file(const std::string& path, const std::string& content);
// The whole file; empty when it cannot be read.
std::string read_file(const std::string& path);
// True once `path` exists; false after about ten seconds without it.
bool wait_for_file(const std::string& path);

// The folder holding the built programs: $KESTRUM_BIN when set, else the
// build's own bin folder.
std::string bin_dir();

}  // namespace kestrum::testing
