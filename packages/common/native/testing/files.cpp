#include "testing/files.h"

#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace kestrum::testing {

TempDir::TempDir() {
  char pattern[] = "/tmp/kestrum-test-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
  out.close();
  // A test that silently lost its input file would fail for the wrong reason.
  if (!out) throw std::runtime_error("cannot write " + path);
}

void replace_file(const std::string& path, const std::string& content) {
  const std::string partial = path + ".partial";
  write_file(partial, content);
  std::filesystem::rename(partial, path);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

bool wait_for_file(const std::string& path) {
  for (int i = 0; i < 400; ++i) {
    if (::access(path.c_str(), F_OK) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

std::string bin_dir() {
  if (const char* bin = std::getenv("KESTRUM_BIN")) return bin;
  return KESTRUM_BUILD_BIN_DIR;
}

}  // namespace kestrum::testing
