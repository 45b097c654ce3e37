// The command line and the start-up of `serve`, through the built program.
#include <gtest/gtest.h>

#include "support/server_process.h"

namespace kestrum::computer::testing {
namespace {

const std::string kUsageText =
    "usage: kestrum-computer serve [--own-pid <pid>] [--own-app <id>]\n"
    "       kestrum-computer probe\n"
    "       kestrum-computer request <accessibility|screen>";
const std::string kUsageError = "kestrum-computer: " + kUsageText + "\n";
const std::string kBothDenied =
    "{\"permissions\":{\"capture\":false,\"input\":false},\"platform\":\"macos\"}\n";
const std::string kCaptureDenied =
    "{\"permissions\":{\"capture\":false,\"input\":true},\"platform\":\"macos\"}\n";

struct Finished {
  std::string out;
  Exit exit;
};

// Runs the program with one request waiting on its input, so that a server
// that starts by mistake would answer it.
Finished run(const std::vector<std::string>& args, const std::optional<std::string>& scene) {
  ServerProcess process({args, scene});
  // Small enough for the pipe's buffer, so one write either takes it all or
  // meets a server that has already ended.
  process.offer("{\"id\":1,\"op\":\"hello\"}\n");
  process.close_input();
  Finished result;
  result.out = process.read_rest();
  result.exit = process.wait();
  return result;
}

TEST(Startup, CommandsPrintTheirTexts) {
  TempDir dir;
  const std::string scene = dir.file("scene.json");
  replace_file(
      scene, R"({"permissions": {"capture": false}, "prompts": ")" + dir.file("prompts") + R"("})");
  const struct {
    std::vector<std::string> args;
    bool with_scene;
    std::string out, err;
    int status;
    std::string prompts;
  } cases[] = {
      {{}, true, "", kUsageError, 1, ""},
      {{"--help"}, true, kUsageText + "\n", "", 0, ""},
      {{"--help", "--version"}, true, kUsageText + "\n", "", 0, ""},
      {{"--version"}, true, "kestrum-computer 0.1.0-beta.8\n", "", 0, ""},
      {{"probe"}, true, kCaptureDenied, "", 0, ""},
      {{"probe", "extra", "words"}, true, kCaptureDenied, "", 0, ""},
      {{"probe"}, false, kBothDenied, "", 0, ""},
      {{"request", "screen"}, true, kCaptureDenied, "", 0, "screen\n"},
      {{"request", "accessibility"}, true, kCaptureDenied, "", 0, "accessibility\n"},
      {{"request", "accessibility"}, false, kBothDenied, "", 0, ""},
      {{"request", "Screen"}, true, "", kUsageError, 1, ""},
      {{"request", "screen", "extra"}, true, "", kUsageError, 1, ""},
      {{"request"}, true, "", kUsageError, 1, ""},
      {{"serve", "--own-pid"}, true, "", kUsageError, 1, ""},
      {{"serve", "--own-pid", "12a"}, true, "", kUsageError, 1, ""},
      {{"serve", "--own-app", "x", "--color", "red"}, true, "", kUsageError, 1, ""},
      {{"unknown"}, true, "", kUsageError, 1, ""},
  };
  for (const auto& c : cases) {
    std::remove(dir.file("prompts").c_str());
    const Finished result = run(c.args, c.with_scene ? std::optional(scene) : std::nullopt);
    std::string joined;
    for (const auto& arg : c.args) joined += " " + arg;
    EXPECT_EQ(result.out, c.out) << joined;
    EXPECT_EQ(result.exit.err, c.err) << joined;
    EXPECT_EQ(result.exit.status, c.status) << joined;
    EXPECT_EQ(read_file(dir.file("prompts")), c.prompts) << joined;
  }
}

TEST(Startup, ServeFailsBeforeReadingAnyRequest) {
  TempDir dir;
  const struct {
    std::optional<std::string> scene;  // absent: no desktop at all
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {std::nullopt,
       {"serve"},
       "kestrum-computer: Kestrum needs the Accessibility permission to see when you take over\n"},
      {R"({"tap": false})",
       {"serve"},
       "kestrum-computer: Kestrum needs the Accessibility permission to see when you take over\n"},
      {R"({"runLoopSource": false})",
       {"serve"},
       "kestrum-computer: could not listen to the input\n"},
      {R"({"runLoop": false})", {"serve"}, "kestrum-computer: no run loop\n"},
      // The tap is never created when the options are wrong.
      {R"({"tap": false})", {"serve", "--own-pid", "-"}, kUsageError},
      {R"({"tap": false)",
       {"serve"},
       "kestrum-computer: desktop scene: " + dir.file("scene.json") +
           ": EOF while parsing an object at line 1 column 13\n"},
  };
  for (const auto& c : cases) {
    if (c.scene) replace_file(dir.file("scene.json"), *c.scene);
    const Finished result =
        run(c.args, c.scene ? std::optional(dir.file("scene.json")) : std::nullopt);
    EXPECT_EQ(result.out, "") << c.err;
    EXPECT_EQ(result.exit.err, c.err);
    EXPECT_EQ(result.exit.status, 1) << c.err;
  }
}

TEST(Startup, ServeOptionsReachTheChecks) {
  TempDir dir;
  const std::string scene = dir.file("scene.json");
  replace_file(scene, R"({"windows": [{"pid": -5, "x": 0, "y": 0, "width": 10, "height": 10}]})");
  ServerProcess process(
      {{"serve", "--own-app", "first", "--own-pid", "-5", "--own-app", "second"}, scene});
  process.send(R"({"id":1,"op":"grant","apps":["second"]})"
               "\n");
  EXPECT_EQ(process.read_json(), R"({"id":1,"ok":false,"refused":{"kind":"kestrum"}})");
  process.send(R"({"id":2,"op":"grant","apps":["first",""]})"
               "\n");
  EXPECT_EQ(process.read_json(), R"({"id":2,"ok":true})");
  // The window belongs to the server's own process: refused before the
  // grant of the empty identifier is consulted.
  process.send(R"({"id":3,"op":"move","x":1,"y":1})"
               "\n");
  EXPECT_EQ(process.read_json(), R"({"id":3,"ok":false,"refused":{"kind":"kestrum"}})");
  process.close_input();
  EXPECT_FALSE(process.read_frame().has_value());
  const Exit exit = process.wait();
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "");
}

TEST(Startup, ClosedStandardDescriptorsAreOpenedOnDevNull) {
  TempDir dir;
  replace_file(dir.file("scene.json"), "{}");
  {
    ServerOptions options{{"serve"}, dir.file("scene.json")};
    options.close_stdin = true;
    ServerProcess process(options);
    EXPECT_EQ(process.read_rest(), "");
    const Exit exit = process.wait();
    EXPECT_EQ(exit.status, 0);
    EXPECT_EQ(exit.err, "");
  }
  {
    ServerOptions options{{"serve"}, dir.file("scene.json")};
    options.close_stdout = true;
    ServerProcess process(options);
    process.send("{\"id\":1,\"op\":\"hello\"}\n");
    process.close_input();
    const Exit exit = process.wait();
    EXPECT_EQ(exit.status, 0);
    EXPECT_EQ(exit.err, "");
  }
}

}  // namespace
}  // namespace kestrum::computer::testing
