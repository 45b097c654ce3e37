// kestrum-capture-png: turns the pixels of a capture answer into a PNG file,
// so that a person can look at what the agent sees.
//
//   kestrum-capture-png [--width W --height H] INPUT OUTPUT
//
// INPUT ("-" for standard input) holds an answer frame as kestrum-computer
// writes it. Only the first frame is read, and nothing past it, so the tool
// can sit at the end of a pipe from a server that keeps running. With
// --width and --height, INPUT is a bare payload of exactly W × H × 4 bytes.
// OUTPUT ("-" for standard output) gets an 8-bit RGBA PNG.
//
// Exit status: 0 written, 1 unusable input or failed write, 2 bad command
// line.
#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ascii.h"
#include "base/result.h"
#include "base/system_error.h"
#include "base/unique_fd.h"
#include "json/document.h"

namespace kestrum {
namespace {

constexpr std::string_view kUsage =
    "usage: kestrum-capture-png [--width W --height H] INPUT OUTPUT\n";
// The largest side PNG allows.
constexpr std::uint64_t kPngSideLimit = 0x7FFFFFFF;

struct Options {
  std::optional<std::uint64_t> width;
  std::optional<std::uint64_t> height;
  std::string input;
  std::string output;
};

struct Capture {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  std::string pixels;
};

Result<Options> parse_options(int argc, char** argv) {
  Options options;
  std::vector<std::string_view> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg != "--width" && arg != "--height") {
      positional.push_back(arg);
      continue;
    }
    if (i + 1 == argc) return fail(std::string(arg) + " needs a number");
    const std::optional<std::uint64_t> value = parse_decimal<std::uint64_t>(argv[++i]);
    if (!value) return fail(std::string(arg) + " needs a number, not \"" + argv[i] + "\"");
    (arg == "--width" ? options.width : options.height) = value;
  }
  if (options.width.has_value() != options.height.has_value())
    return fail("--width and --height go together");
  if (positional.size() != 2) return fail("expected INPUT and OUTPUT");
  options.input = positional[0];
  options.output = positional[1];
  return options;
}

// Reads `count` bytes, or up to the end of the input when `count` is absent.
Result<std::string> read_bytes(int fd, std::optional<std::size_t> count) {
  std::string bytes;
  char buffer[1 << 16];
  while (!count || bytes.size() < *count) {
    const std::size_t want = count ? std::min(sizeof buffer, *count - bytes.size()) : sizeof buffer;
    const ssize_t got = ::read(fd, buffer, want);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail("cannot read the input: " + last_system_error_text());
    if (got == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  if (count && bytes.size() < *count) return fail("the input ends inside the frame");
  return bytes;
}

Result<std::uint32_t> read_length(int fd) {
  Result<std::string> bytes = read_bytes(fd, 4);
  if (!bytes) return fail(bytes.take_error());
  std::uint32_t length = 0;
  for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<std::uint8_t>((*bytes)[i]);
  return length;
}

const json::Node* member(const json::Node& object, std::string_view key) {
  for (const json::Member& m : object.members)
    if (m.key == key && m.value) return &*m.value;
  return nullptr;
}

// "width" and "height" of a successful capture answer, or what the answer
// says instead.
Result<Capture> answer_size(std::string_view text) {
  const json::Document document = json::parse(text);
  if (document.syntax_error)
    return fail("the answer is not JSON: " + json::format_error(text, *document.syntax_error));
  if (!document.root) return fail("the answer is not JSON");
  if (document.root->kind != json::Kind::kObject) return fail("the answer is not a JSON object");
  const json::Node* error = member(*document.root, "error");
  if (error && error->kind == json::Kind::kString)
    return fail("the answer is an error: " + error->text);
  if (member(*document.root, "refused"))
    return fail("the answer is a refusal: " + std::string(text));
  const json::Node* width = member(*document.root, "width");
  const json::Node* height = member(*document.root, "height");
  if (!width || !height || width->kind != json::Kind::kInteger ||
      height->kind != json::Kind::kInteger)
    return fail("the answer has no whole \"width\" and \"height\"");
  return Capture{width->integer, height->integer, {}};
}

Result<Capture> read_frame(int fd) {
  Result<std::uint32_t> json_length = read_length(fd);
  if (!json_length) return fail(json_length.take_error());
  Result<std::string> text = read_bytes(fd, *json_length);
  if (!text) return fail(text.take_error());
  Result<Capture> capture = answer_size(*text);
  if (!capture) return capture;
  Result<std::uint32_t> payload_length = read_length(fd);
  if (!payload_length) return fail(payload_length.take_error());
  Result<std::string> payload = read_bytes(fd, *payload_length);
  if (!payload) return fail(payload.take_error());
  capture->pixels = std::move(*payload);
  return capture;
}

Status check_payload(const Capture& capture) {
  const std::string size = std::to_string(capture.width) + " x " + std::to_string(capture.height);
  std::uint64_t pixels = 0;
  std::uint64_t bytes = 0;
  if (__builtin_mul_overflow(capture.width, capture.height, &pixels) ||
      __builtin_mul_overflow(pixels, std::uint64_t{4}, &bytes) || bytes != capture.pixels.size())
    return fail("the payload holds " + std::to_string(capture.pixels.size()) +
                " bytes, not 4 for each of " + size + " pixels");
  if (capture.width == 0 || capture.height == 0 || capture.width > kPngSideLimit ||
      capture.height > kPngSideLimit)
    return fail("a PNG cannot hold an image of " + size + " pixels");
  return {};
}

Status write_png(const Capture& capture, const std::string& output) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(capture.width);
  image.height = static_cast<png_uint_32>(capture.height);
  // The payload's own byte order, so no pixel is touched on the way.
  image.format = PNG_FORMAT_BGRA;
  const void* pixels = capture.pixels.data();
  const int written = output == "-"
                          ? png_image_write_to_stdio(&image, stdout, 0, pixels, 0, nullptr)
                          : png_image_write_to_file(&image, output.c_str(), 0, pixels, 0, nullptr);
  if (written && (output != "-" || std::fflush(stdout) == 0)) return {};
  const std::string reason = written ? last_system_error_text() : std::string(image.message);
  png_image_free(&image);
  return fail("cannot write " + output + ": " + reason);
}

Result<Capture> read_capture(const Options& options) {
  UniqueFd opened;
  if (options.input != "-") {
    opened.reset(::open(options.input.c_str(), O_RDONLY | O_CLOEXEC));
    if (!opened) return fail("cannot open " + options.input + ": " + last_system_error_text());
  }
  const int fd = opened ? opened.get() : 0;
  if (!options.width) return read_frame(fd);
  Result<std::string> payload = read_bytes(fd, std::nullopt);
  if (!payload) return fail(payload.take_error());
  return Capture{*options.width, *options.height, std::move(*payload)};
}

int run(int argc, char** argv) {
  Result<Options> options = parse_options(argc, argv);
  if (!options) {
    std::fprintf(stderr, "kestrum-capture-png: %s\n%s", options.error().c_str(), kUsage.data());
    return 2;
  }
  Result<Capture> capture = read_capture(*options);
  Status done = capture ? check_payload(*capture) : Status(fail(capture.take_error()));
  if (done) done = write_png(*capture, options->output);
  if (done) return 0;
  std::fprintf(stderr, "kestrum-capture-png: %s\n", done.error().c_str());
  return 1;
}

}  // namespace
}  // namespace kestrum

int main(int argc, char** argv) { return kestrum::run(argc, argv); }
