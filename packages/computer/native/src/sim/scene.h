// The scene file of the simulated desktop (see docs/computer-scene.md).
// Every member is optional; the defaults describe a plain, permissive
// desktop with one 1440 × 900 display and nothing running.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace kestrum::computer::sim {

struct SceneDisplay {
  std::uint32_t id = 1;
  double x = 0;
  double y = 0;
  double width = 1440;
  double height = 900;
  std::optional<std::uint64_t> pixel_width;  // absent: the width; 0: no current mode
};

struct SceneApp {
  std::int64_t pid = 0;
  std::optional<std::string> id;
  std::optional<std::string> name;
  std::optional<std::string> bundle;
  std::int64_t policy = 0;
};

struct SceneWindow {
  std::int64_t pid = 0;
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  std::array<std::uint8_t, 3> color{128, 128, 128};  // blue, green, red
};

struct SceneCapture {
  std::string content = "ok";
  std::optional<std::vector<std::uint32_t>> displays;  // absent: the display's id
  std::string image = "ok";
  std::uint64_t bits_per_pixel = 32;
  std::uint64_t row_padding = 0;
  std::uint64_t short_by = 0;
};

struct Scene {
  bool capture_permission = true;
  bool input_permission = true;
  std::optional<std::string> prompts;
  bool tap = true;
  bool run_loop_source = true;
  bool run_loop = true;
  SceneDisplay display;
  bool accessibility = true;
  bool secure_input = false;
  std::vector<SceneApp> apps;
  std::optional<std::int64_t> front;
  std::vector<SceneWindow> windows;
  SceneCapture capture;
  std::string open = "/usr/bin/open";
  std::optional<std::string> input;
  std::optional<std::string> posted;
  std::optional<std::uint64_t> fail_after;
};

// The scene text as it stands once `posts` events have been posted: the
// members of every "after" entry with "posts" <= `posts` replace the file's,
// entry by entry in order. Errors carry their position.
Result<Scene> parse_scene(std::string_view text, std::uint64_t posts);

// Reads and parses the file at `path`.
Result<Scene> load_scene(const std::string& path, std::uint64_t posts);

// One person's event from the "input" file.
struct PersonEvent {
  std::uint32_t type = 0;
  std::int64_t dx = 0;
  std::int64_t dy = 0;
  std::int64_t tag = 0;
};
Result<PersonEvent> parse_person_event(std::string_view line);

// A broken scene is a broken test set-up: the program ends at once with
// status 1 and "kestrum-computer: desktop scene: " + `message`.
[[noreturn]] void scene_fault(std::string_view message);

}  // namespace kestrum::computer::sim
