#include "testing/record.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "base/io.h"
#include "base/unique_fd.h"
#include "base/utf8.h"
#include "json/writer.h"

namespace kestrum::testing {
namespace {

// One file per process, so that tests running side by side never
// interleave their lines.
void append_line(std::string_view file_stem, const std::string& line) {
  const char* folder = std::getenv("KESTRUM_RECORD");
  if (!folder || !*folder) return;
  std::filesystem::create_directories(folder);
  const std::string path = std::string(folder) + "/" + std::string(file_stem) + "-" +
                           std::to_string(::getpid()) + ".jsonl";
  const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (!fd || !write_all(fd.get(), line + "\n"))
    throw std::runtime_error("cannot record in " + path);
}

}  // namespace

void record_output(std::string_view schema, std::string_view json) {
  append_line(schema, std::string(json));
}

void record_case(std::string_view schema, std::string_view text, std::string_view refusal) {
  if (!is_valid_utf8(text)) return;
  json::Object entry;
  entry["refusal"] = refusal.empty() ? json::Value(nullptr) : json::Value(refusal);
  entry["text"] = text;
  append_line(std::string(schema) + ".cases", json::to_json(json::Value(std::move(entry))));
}

}  // namespace kestrum::testing
