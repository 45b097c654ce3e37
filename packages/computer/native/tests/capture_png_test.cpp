// Runs the built kestrum-capture-png and reads back what it wrote.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "testing/files.h"

extern char** environ;

namespace kestrum::computer {
namespace {

namespace fs = std::filesystem;

std::string tool_binary() { return kestrum::testing::bin_dir() + "/kestrum-capture-png"; }

std::string le32(std::size_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return bytes;
}

std::string frame(const std::string& json, const std::string& payload) {
  return le32(json.size()) + json + le32(payload.size()) + payload;
}

std::string capture_json(int width, int height) {
  return R"({"height":)" + std::to_string(height) + R"(,"id":4,"ok":true,"screen":)" +
         R"({"height":1.0,"width":1.0,"x":0.0,"y":0.0},"width":)" + std::to_string(width) + "}";
}

// Six pixels of 3 × 2, B G R A each, every byte different.
const std::string kSixPixels = std::string(
    "\x01\x02\x03\xff\x11\x12\x13\xff\x21\x22\x23\xff"
    "\x31\x32\x33\xff\x41\x42\x43\xff\x51\x52\x53\xff",
    24);

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

class CapturePng : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "capture-png-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path file(const std::string& name, const std::string& bytes) const {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return dir_ / name;
  }

  ToolRun run(std::vector<std::string> args, const std::string& input = "") const {
    const fs::path in = file("stdin", input), out = dir_ / "stdout", err = dir_ / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    args.insert(args.begin(), tool_binary());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ToolRun result;
    if (spawned != 0) return result;
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = read_file(out);
    result.err = read_file(err);
    return result;
  }

  fs::path dir_;
};

struct Decoded {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::string bgra;
};

std::optional<Decoded> decode(const std::string& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return std::nullopt;
  image.format = PNG_FORMAT_BGRA;
  std::string pixels(PNG_IMAGE_SIZE(image), '\0');
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return std::nullopt;
  }
  return Decoded{image.width, image.height, pixels};
}

std::uint32_t big_endian(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i)
    value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

TEST_F(CapturePng, WritesThePayloadAsAnRgbaPng) {
  const std::string raw_four =
      std::string("\x05\x06\x07\x08\x09\x0a\x0b\x0c\xfe\xfd\xfc\xfb\x00\x00\x00\x00", 16);
  const struct {
    const char* name;
    std::vector<std::string> args;  // "IN" is replaced by the input file
    std::string stdin_bytes;
    bool to_stdout;
    std::uint32_t width, height;
    std::string pixels;
  } cases[] = {
      {"frame from a file", {"IN", "OUT"}, "", false, 3, 2, kSixPixels},
      {"frame on standard input to standard output",
       {"-", "-"},
       frame(capture_json(3, 2), kSixPixels),
       true,
       3,
       2,
       kSixPixels},
      {"only the first frame is read",
       {"-", "OUT"},
       frame(capture_json(3, 2), kSixPixels) + frame(R"({"id":5,"ok":true})", ""),
       false,
       3,
       2,
       kSixPixels},
      {"bare payload, alpha as given",
       {"--width", "2", "--height", "2", "IN", "OUT"},
       "",
       false,
       2,
       2,
       raw_four},
  };
  for (const auto& c : cases) {
    const bool raw = c.args.size() == 6;
    const fs::path in = file("in", raw ? c.pixels : frame(capture_json(3, 2), kSixPixels));
    const fs::path out = dir_ / "out.png";
    std::vector<std::string> args;
    for (const auto& arg : c.args)
      args.push_back(arg == "IN" ? in.string() : arg == "OUT" ? out.string() : arg);
    const ToolRun got = run(args, c.stdin_bytes);
    ASSERT_EQ(got.status, 0) << c.name << ": " << got.err;
    EXPECT_EQ(got.err, "") << c.name;
    const std::string png = c.to_stdout ? got.out : read_file(out);
    ASSERT_GE(png.size(), 26u) << c.name;
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n") << c.name;
    EXPECT_EQ(png.substr(12, 4), "IHDR") << c.name;
    EXPECT_EQ(big_endian(png, 16), c.width) << c.name;
    EXPECT_EQ(big_endian(png, 20), c.height) << c.name;
    EXPECT_EQ(png[24], 8) << c.name;  // bits per channel
    EXPECT_EQ(png[25], 6) << c.name;  // colour with alpha
    const std::optional<Decoded> decoded = decode(png);
    ASSERT_TRUE(decoded.has_value()) << c.name;
    EXPECT_EQ(decoded->width, c.width) << c.name;
    EXPECT_EQ(decoded->height, c.height) << c.name;
    EXPECT_EQ(decoded->bgra, c.pixels) << c.name;
    fs::remove(out);
  }
}

TEST_F(CapturePng, RefusesWhatItCannotShow) {
  const std::string prefix = "kestrum-capture-png: ";
  const std::string usage = "usage: kestrum-capture-png [--width W --height H] INPUT OUTPUT\n";
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string err;
  } cases[] = {
      {"error answer",
       {"-", "OUT"},
       frame(R"({"error":"the screen capture did not answer","id":3,"ok":false})", ""),
       1,
       prefix + "the answer is an error: the screen capture did not answer\n"},
      {"refusal",
       {"-", "OUT"},
       frame(R"({"id":3,"ok":false,"refused":{"kind":"person"}})", ""),
       1,
       prefix + R"(the answer is a refusal: {"id":3,"ok":false,"refused":{"kind":"person"}})"
                "\n"},
      {"answer without a size",
       {"-", "OUT"},
       frame(R"({"id":1,"ok":true})", ""),
       1,
       prefix + "the answer has no whole \"width\" and \"height\"\n"},
      {"size not whole",
       {"-", "OUT"},
       frame(R"({"height":2,"width":3.0})", kSixPixels),
       1,
       prefix + "the answer has no whole \"width\" and \"height\"\n"},
      {"not JSON",
       {"-", "OUT"},
       frame("{\"width\":", ""),
       1,
       prefix + "the answer is not JSON: EOF while parsing a value at line 1 column 9\n"},
      {"payload one byte short",
       {"-", "OUT"},
       frame(capture_json(3, 2), kSixPixels.substr(1)),
       1,
       prefix + "the payload holds 23 bytes, not 4 for each of 3 x 2 pixels\n"},
      {"frame cut in the payload",
       {"-", "OUT"},
       frame(capture_json(3, 2), kSixPixels).substr(0, 100),
       1,
       prefix + "the input ends inside the frame\n"},
      {"no pixels",
       {"-", "OUT"},
       frame(capture_json(0, 5), ""),
       1,
       prefix + "a PNG cannot hold an image of 0 x 5 pixels\n"},
      {"bare payload of the wrong length",
       {"--height", "1", "--width", "2", "-", "OUT"},
       "12345678x",
       1,
       prefix + "the payload holds 9 bytes, not 4 for each of 2 x 1 pixels\n"},
      {"missing input file",
       {"/nonexistent/in", "OUT"},
       "",
       1,
       prefix + "cannot open /nonexistent/in: No such file or directory (os error 2)\n"},
      {"one operand", {"OUT"}, "", 2, prefix + "expected INPUT and OUTPUT\n" + usage},
      {"width alone",
       {"--width", "3", "-", "OUT"},
       "",
       2,
       prefix + "--width and --height go together\n" + usage},
  };
  for (const auto& c : cases) {
    const fs::path out = dir_ / "out.png";
    std::vector<std::string> args;
    for (const auto& arg : c.args) args.push_back(arg == "OUT" ? out.string() : arg);
    const ToolRun got = run(args, c.input);
    EXPECT_EQ(got.status, c.status) << c.name;
    EXPECT_EQ(got.err, c.err) << c.name;
    EXPECT_FALSE(fs::exists(out)) << c.name;
  }
}

}  // namespace
}  // namespace kestrum::computer
