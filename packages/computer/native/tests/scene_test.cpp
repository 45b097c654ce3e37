#include "sim/scene.h"

#include <gtest/gtest.h>

#include "desktop/lookups.h"
#include "sim/posted.h"
#include "sim/sim_desktop.h"
#include "support/server_process.h"

namespace kestrum::computer::sim {
namespace {

using computer::testing::read_file;
using computer::testing::replace_file;
using computer::testing::TempDir;

TEST(Scene, DefaultsDescribeAPlainDesktop) {
  auto scene = parse_scene("{}", 0);
  ASSERT_TRUE(scene.ok()) << scene.error();
  EXPECT_TRUE(scene->capture_permission);
  EXPECT_TRUE(scene->input_permission);
  EXPECT_TRUE(scene->tap && scene->run_loop_source && scene->run_loop && scene->accessibility);
  EXPECT_FALSE(scene->secure_input);
  EXPECT_EQ(scene->display.id, 1u);
  EXPECT_EQ(scene->display.width, 1440);
  EXPECT_EQ(scene->display.height, 900);
  EXPECT_FALSE(scene->display.pixel_width.has_value());
  EXPECT_TRUE(scene->apps.empty());
  EXPECT_FALSE(scene->front.has_value());
  EXPECT_EQ(scene->capture.content, "ok");
  EXPECT_EQ(scene->capture.bits_per_pixel, 32u);
  EXPECT_EQ(scene->open, "/usr/bin/open");
  EXPECT_FALSE(scene->fail_after.has_value());
}

TEST(Scene, ReadsEveryMember) {
  auto scene = parse_scene(R"({
    "permissions": {"capture": false},
    "prompts": "/tmp/p", "tap": false, "runLoopSource": false, "runLoop": false,
    "display": {"id": 9, "x": -10.5, "width": 1512, "height": 982, "pixelWidth": 3024},
    "accessibility": false, "secureInput": true,
    "apps": [{"pid": 5, "id": "com.a", "name": null, "bundle": "A.app", "policy": 1}, {"pid": -3}],
    "front": 5,
    "windows": [{"pid": 5, "x": 1, "y": 2, "width": 3, "height": 4, "color": [1, 2, 3]}],
    "capture": {"content": "silent", "displays": [], "image": "denied", "bitsPerPixel": 24, "rowPadding": 16, "shortBy": 1},
    "open": "/bin/false", "input": "/tmp/in", "posted": "/tmp/out", "failAfter": 2
  })",
                           0);
  ASSERT_TRUE(scene.ok()) << scene.error();
  EXPECT_FALSE(scene->capture_permission);
  EXPECT_TRUE(scene->input_permission);
  EXPECT_EQ(scene->prompts, "/tmp/p");
  EXPECT_FALSE(scene->tap || scene->run_loop_source || scene->run_loop || scene->accessibility);
  EXPECT_TRUE(scene->secure_input);
  EXPECT_EQ(scene->display.id, 9u);
  EXPECT_EQ(scene->display.x, -10.5);
  EXPECT_EQ(scene->display.y, 0);
  EXPECT_EQ(scene->display.pixel_width, 3024u);
  ASSERT_EQ(scene->apps.size(), 2u);
  EXPECT_EQ(scene->apps[0].id, "com.a");
  EXPECT_FALSE(scene->apps[0].name.has_value());
  EXPECT_EQ(scene->apps[0].bundle, "A.app");
  EXPECT_EQ(scene->apps[0].policy, 1);
  EXPECT_EQ(scene->apps[1].pid, -3);
  EXPECT_EQ(scene->front, 5);
  ASSERT_EQ(scene->windows.size(), 1u);
  EXPECT_EQ(scene->windows[0].color, (std::array<std::uint8_t, 3>{1, 2, 3}));
  EXPECT_EQ(scene->capture.content, "silent");
  EXPECT_EQ(scene->capture.displays, std::vector<std::uint32_t>{});
  EXPECT_EQ(scene->capture.row_padding, 16u);
  EXPECT_EQ(scene->open, "/bin/false");
  EXPECT_EQ(scene->input, "/tmp/in");
  EXPECT_EQ(scene->posted, "/tmp/out");
  EXPECT_EQ(scene->fail_after, 2u);
}

TEST(Scene, ReplacementsApplyByPostCount) {
  const std::string text = R"({"front": 1, "secureInput": true, "after": [
    {"posts": 2, "scene": {"front": 2}},
    {"posts": 3, "scene": {"front": null, "accessibility": false}}
  ]})";
  const struct {
    std::uint64_t posts;
    std::optional<std::int64_t> front;
    bool accessibility;
  } cases[] = {
      {0, 1, true}, {1, 1, true}, {2, 2, true}, {3, std::nullopt, false}, {9, std::nullopt, false}};
  for (const auto& c : cases) {
    auto scene = parse_scene(text, c.posts);
    ASSERT_TRUE(scene.ok()) << scene.error();
    EXPECT_EQ(scene->front, c.front) << c.posts;
    EXPECT_EQ(scene->accessibility, c.accessibility) << c.posts;
    EXPECT_TRUE(scene->secure_input) << "untouched members stay";
  }
}

TEST(Scene, MistakesAreNamed) {
  const struct {
    std::string text;
    std::string want;
  } cases[] = {
      {R"({"secure": true})",
       "unknown field `secure`, expected one of `permissions`, `prompts`, `tap`, `runLoopSource`, "
       "`runLoop`, "
       "`display`, `accessibility`, `secureInput`, `apps`, `front`, `windows`, `capture`, `open`, "
       "`input`, "
       "`posted`, `failAfter`, `after` at line 1 column 9"},
      {R"({"apps": [{"id": "a"}]})", "missing field `pid` at line 1 column 21"},
      {R"({"windows": [{"pid": 1, "x": 0, "y": 0, "width": 1, "height": 1, "color": [1, 2]}]})",
       "a colour has 3 bytes at line 1 column 80"},
      {R"({"after": [{"posts": 1, "scene": {"tap": 1}}]})",
       "invalid type: integer `1`, expected a boolean at line 1 column 42"},
      {"5", "invalid type: integer `5`, expected struct Scene at line 1 column 1"},
  };
  for (const auto& c : cases) {
    auto scene = parse_scene(c.text, 5);
    ASSERT_FALSE(scene.ok()) << c.text;
    EXPECT_EQ(scene.error(), c.want);
  }
}

TEST(Scene, InputEvents) {
  auto event = parse_person_event(R"({"type": 5, "dx": -3, "tag": 1263752269})");
  ASSERT_TRUE(event.ok()) << event.error();
  EXPECT_EQ(event->type, 5u);
  EXPECT_EQ(event->dx, -3);
  EXPECT_EQ(event->dy, 0);
  EXPECT_EQ(event->tag, 1263752269);
  EXPECT_EQ(parse_person_event(R"({"dx": 1})").error(), "missing field `type` at line 1 column 9");
}

TEST(Posted, LinesHaveTheSetFieldsInByteOrder) {
  const struct {
    SyntheticEvent event;
    std::string want;
  } cases[] = {
      {MouseEventParams{5, 100, 200.5, 0, std::nullopt},
       R"({"button":0,"tag":1263752269,"type":5,"x":100.0,"y":200.5})"},
      {MouseEventParams{25, -1, 0, 2, 3},
       R"({"button":2,"clickState":3,"tag":1263752269,"type":25,"x":-1.0,"y":0.0})"},
      {KeyEventParams{17, true, 0x120000, std::nullopt},
       R"({"flags":1179648,"keycode":17,"tag":1263752269,"type":10})"},
      {KeyEventParams{0, false, std::nullopt, u"h\u00e9\U0001F600\""},
       "{\"keycode\":0,\"tag\":1263752269,\"text\":\"h\xc3\xa9\xf0\x9f\x98\x80\\\"\",\"type\":11}"},
      {ScrollEventParams{1, 2, -3, 0, 0},
       R"({"tag":1263752269,"type":22,"units":1,"wheel1":-3,"wheel2":0,"wheel3":0,"wheelCount":2})"},
  };
  for (const auto& c : cases) EXPECT_EQ(posted_line(c.event), c.want + "\n");
}

TEST(SimDesktop, PostsAreRecordedCountedAndMayFail) {
  TempDir dir;
  const std::string posted = dir.file("posted");
  replace_file(dir.file("scene.json"),
               R"({"posted": ")" + posted + R"(", "failAfter": 2, "front": 1,
    "apps": [{"pid": 1, "id": "a"}, {"pid": 2, "id": "b"}],
    "after": [{"posts": 1, "scene": {"front": 2}}]})");
  SimDesktop desktop(dir.file("scene.json"));
  EXPECT_EQ(frontmost_app(desktop, {})->id, "a");
  EXPECT_TRUE(desktop.post_event(MouseEventParams{5, 1, 2, 0, std::nullopt}));
  EXPECT_EQ(frontmost_app(desktop, {})->id, "b");
  EXPECT_TRUE(desktop.post_event(ScrollEventParams{}));
  EXPECT_FALSE(desktop.post_event(KeyEventParams{}));
  EXPECT_FALSE(desktop.post_event(KeyEventParams{}));
  EXPECT_EQ(
      read_file(posted),
      R"({"button":0,"tag":1263752269,"type":5,"x":1.0,"y":2.0})"
      "\n"
      R"({"tag":1263752269,"type":22,"units":1,"wheel1":0,"wheel2":0,"wheel3":0,"wheelCount":2})"
      "\n");
}

TEST(SimDesktop, AnswersQueriesFromTheCurrentFile) {
  TempDir dir;
  const std::string path = dir.file("scene.json");
  replace_file(path, R"({"display": {"id": 4, "x": -5, "width": 100, "height": 50},
    "windows": [{"pid": 1, "x": 0, "y": 0, "width": 10, "height": 10},
                {"pid": 2, "x": 5, "y": 5, "width": 10, "height": 10}],
    "apps": [{"pid": 2, "id": "b", "name": "B", "bundle": "B.app", "policy": 1}],
    "prompts": ")" + dir.file("prompts") +
                         R"("})");
  SimDesktop desktop(path);
  EXPECT_EQ(desktop.main_display_id(), 4u);
  EXPECT_EQ(desktop.display_bounds(4).x, -5);
  EXPECT_EQ(desktop.display_bounds(1).width, 0);
  EXPECT_EQ(desktop.display_mode_pixel_width(4), 100u);
  const auto pid_at = [&](float x, float y) -> std::int64_t {
    const ElementAtPoint element = desktop.process_at_point(x, y);
    if (const auto* process = std::get_if<ElementProcess>(&element)) return process->pid;
    return std::holds_alternative<NoElement>(element) ? 0 : -1;
  };
  EXPECT_EQ(pid_at(0, 0), 1);
  EXPECT_EQ(pid_at(9.5, 9.5), 1);  // the first window is in front
  EXPECT_EQ(pid_at(10, 10), 2);
  EXPECT_EQ(pid_at(15, 15), 0);  // right and bottom edges are outside
  ASSERT_EQ(desktop.running_applications().size(), 1u);
  EXPECT_EQ(desktop.running_application(2)->activation_policy, 1);
  EXPECT_FALSE(desktop.running_application(1).has_value());
  desktop.prompt_screen_capture();
  desktop.prompt_accessibility();
  EXPECT_EQ(read_file(dir.file("prompts")), "screen\naccessibility\n");

  replace_file(path, R"({"accessibility": false, "display": {"pixelWidth": 0}})");
  EXPECT_EQ(pid_at(0, 0), -1);
  EXPECT_EQ(desktop.display_mode_pixel_width(1), 0u);
}

}  // namespace
}  // namespace kestrum::computer::sim
