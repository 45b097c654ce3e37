#include "serve/capture.h"

#include <gtest/gtest.h>

#include <chrono>

#include "desktop/listed_content.h"
#include "image/conversion.h"
#include "support/state_fixture.h"

namespace kestrum::computer {
namespace {

using testing::FakeDesktop;
using testing::FakeImage;
using testing::StateFixture;

constexpr auto kShortWait = std::chrono::milliseconds(1);
const std::string kScreen = R"("screen":{"height":1.0,"width":2.0,"x":10.0,"y":20.0})";

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int value : values) out.push_back(static_cast<char>(value));
  return out;
}

std::string repeat(const std::string& piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

const std::string kBlackPixel = bytes({0, 0, 0, 255});

// A 2 × 1-point display at scale 2: 4 × 2 pixels. Mail and Notes run.
void prepare(StateFixture& fixture) {
  fixture.desktop.bounds = {10, 20, 2, 1};
  fixture.desktop.mode_width = 4;
  fixture.desktop.apps = {{10, "com.example.Mail", "Mail", "Mail.app", 0},
                          {11, "com.example.Notes", "Notes", "Notes.app", 0}};
}

// Pixel i of a 4 × 2 image is the bytes 4i, 4i+1, 4i+2 and an alpha of i,
// laid out with `padding` bytes after each row, all 0xEE.
FakeImage patterned(std::uint64_t padding) {
  FakeImage image;
  image.image_width = 4;
  image.image_height = 2;
  image.row_bytes = 16 + padding;
  image.data.emplace();
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 4; ++x) {
      const int i = y * 4 + x;
      for (int b : {4 * i, 4 * i + 1, 4 * i + 2, i})
        image.data->push_back(static_cast<std::uint8_t>(b));
    }
    image.data->insert(image.data->end(), padding, 0xEE);
  }
  return image;
}

std::string patterned_payload() {
  std::string out;
  for (int i = 0; i < 8; ++i) out += bytes({4 * i, 4 * i + 1, 4 * i + 2, 255});
  return out;
}

auto answer_with(FakeImage image) {
  return [image](const ScreenshotParams&, const ImageHandler& handler) {
    handler(&image, std::nullopt);
  };
}

auto content_error(std::optional<std::string> error) {
  return [error](const ContentHandler& handler) { handler(nullptr, error); };
}

auto image_error(std::optional<std::string> error) {
  return [error](const ScreenshotParams&, const ImageHandler& handler) { handler(nullptr, error); };
}

struct Answer {
  std::string json;
  std::string payload;
};

Answer capture(StateFixture& fixture, std::uint64_t max_side) {
  const Outcome outcome = capture_screen(fixture.state, max_side, kShortWait);
  Answer answer{json::to_json(answer_object(1, outcome)), ""};
  if (const auto* reply = std::get_if<Reply>(&outcome))
    answer.payload.assign(reply->payload.begin(), reply->payload.end());
  return answer;
}

std::string failure(std::string_view text) {
  return R"({"error":")" + std::string(text) + R"(","id":1,"ok":false})";
}

std::string success(int width, int height) {
  return R"({"height":)" + std::to_string(height) + R"(,"id":1,"ok":true,)" + kScreen +
         R"(,"width":)" + std::to_string(width) + "}";
}

TEST(Capture, IncludesGrantedApplicationsButNeverItsOwn) {
  const std::vector<ShareableApplication> apps = {
      {"com.a", 1}, {"com.own", 2}, {"com.b", 3}, {"com.a", 4}, {"", 5}};
  const OwnIdentity own{4, "com.own"};
  const struct {
    std::set<std::string> granted;
    OwnIdentity own;
    std::vector<std::size_t> want;
  } cases[] = {
      {{}, own, {}},
      {{"com.a"}, own, {0}},
      {{"com.a", "com.b", "com.own"}, own, {0, 2}},
      {{"COM.A", "com.zzz"}, own, {}},
      {{"com.own"}, {}, {1}},
      {{"com.own"}, {std::nullopt, "com.own"}, {}},
      {{"com.a"}, {4, std::nullopt}, {0}},
      {{""}, own, {4}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(included_applications(apps, c.granted, c.own), c.want);
  }
}

TEST(Capture, ErrorTextNamesTheSystemsReasonOrItsAbsence) {
  EXPECT_EQ(error_text("The user declined"), "The user declined");
  EXPECT_EQ(error_text(std::nullopt), "the system gave no reason");
}

TEST(Capture, AnswersWithThePixelsOfTheGrantedApplications) {
  const struct {
    std::string name;
    std::set<std::string> granted;
    std::function<void(FakeDesktop&)> setup;
    std::uint64_t max_side;
    std::string json;
    std::string payload;
    std::size_t shots;
  } cases[] = {
      {"nothing granted", {}, [](FakeDesktop&) {}, 0, success(4, 2), repeat(kBlackPixel, 8), 0},
      {"only the server's own process granted",
       {"com.example.Mail"},
       [](FakeDesktop& d) { d.apps[0].pid = 500; },
       0,
       success(4, 2),
       repeat(kBlackPixel, 8),
       0},
      {"no screenshot when nothing qualifies",
       {"com.example.Mail"},
       [](FakeDesktop& d) { d.apps.clear(); },
       3,
       success(3, 2),
       repeat(kBlackPixel, 6),
       0},
      {"granted",
       {"com.example.Mail"},
       [](FakeDesktop& d) { d.answer_image = answer_with(patterned(0)); },
       0,
       success(4, 2),
       patterned_payload(),
       1},
      {"row padding dropped",
       {"com.example.Notes"},
       [](FakeDesktop& d) { d.answer_image = answer_with(patterned(12)); },
       4,
       success(4, 2),
       patterned_payload(),
       1},
      {"scaled down",
       {"com.example.Mail"},
       [](FakeDesktop& d) { d.answer_image = answer_with(patterned(0)); },
       2,
       success(2, 1),
       // Blocks of pixels 0, 1, 4, 5 and 2, 3, 6, 7.
       bytes({10, 11, 12, 255, 18, 19, 20, 255}),
       1},
      {"the system's image size is what is sent",
       {"com.example.Mail"},
       [](FakeDesktop& d) {
         FakeImage image = patterned(0);
         image.image_height = 1;
         d.answer_image = answer_with(image);
       },
       0,
       success(4, 1),
       patterned_payload().substr(0, 16),
       1},
  };
  for (const auto& c : cases) {
    StateFixture fixture({500, std::nullopt});
    prepare(fixture);
    {
      const std::lock_guard<std::mutex> hold(fixture.state.control_lock);
      fixture.state.control.granted = c.granted;
    }
    c.setup(fixture.desktop);
    const Answer answer = capture(fixture, c.max_side);
    EXPECT_EQ(answer.json, c.json) << c.name;
    EXPECT_EQ(answer.payload, c.payload) << c.name;
    EXPECT_EQ(fixture.desktop.shots.size(), c.shots) << c.name;
  }
}

TEST(Capture, FailsWithEachTextOfTheSystemAndTheConversion) {
  const auto content_without_main = [](const ContentHandler& handler) {
    handler(std::make_shared<ListedContent>(std::vector<std::uint32_t>{1, 2},
                                            std::vector<ShareableApplication>{}),
            std::nullopt);
  };
  const auto twenty_four_bits = [] {
    FakeImage image = patterned(0);
    image.bits = 24;
    return image;
  };
  const auto one_short = [] {
    FakeImage image = patterned(4);
    image.data->pop_back();
    return image;
  };
  const auto no_data = [] {
    FakeImage image = patterned(0);
    image.data.reset();
    return image;
  };
  const auto out_of_memory = [] {
    FakeImage image = patterned(0);
    image.out_of_memory = true;
    return image;
  };
  const struct {
    std::set<std::string> granted;
    std::function<void(FakeDesktop&)> setup;
    std::string_view want;
  } cases[] = {
      {{}, [&](FakeDesktop& d) { d.answer_content = content_error("Not allowed"); }, "Not allowed"},
      {{},
       [&](FakeDesktop& d) { d.answer_content = content_error(std::nullopt); },
       kCaptureNoReason},
      {{},
       [&](FakeDesktop& d) { d.answer_content = [](const ContentHandler&) {}; },
       kCaptureNoAnswer},
      {{}, [&](FakeDesktop& d) { d.answer_content = content_without_main; }, kCaptureNoMainDisplay},
      {{"com.example.Mail"},
       [&](FakeDesktop& d) { d.answer_image = image_error("Declined"); },
       "Declined"},
      {{"com.example.Mail"},
       [&](FakeDesktop& d) { d.answer_image = image_error(std::nullopt); },
       kCaptureNoReason},
      {{"com.example.Mail"},
       [&](FakeDesktop& d) {
         d.answer_image = [](const ScreenshotParams&, const ImageHandler&) {};
       },
       kCaptureNoAnswer},
      {{"com.example.Mail"},
       [&](FakeDesktop& d) { d.answer_image = answer_with(twenty_four_bits()); },
       kCaptureNot32Bits},
      {{"com.example.Mail"},
       [&](FakeDesktop& d) { d.answer_image = answer_with(one_short()); },
       kCaptureTooShort},
      {{"com.example.Mail"},
       [&](FakeDesktop& d) { d.answer_image = answer_with(no_data()); },
       kCaptureNoPixels},
      // On the system's thread, where an exception would end the process.
      {{"com.example.Mail"},
       [&](FakeDesktop& d) { d.answer_image = answer_with(out_of_memory()); },
       kImageTooLarge},
  };
  for (const auto& c : cases) {
    StateFixture fixture;
    prepare(fixture);
    {
      const std::lock_guard<std::mutex> hold(fixture.state.control_lock);
      fixture.state.control.granted = c.granted;
    }
    c.setup(fixture.desktop);
    EXPECT_EQ(capture(fixture, 0).json, failure(c.want)) << c.want;
  }
}

TEST(Capture, AsksForTheMainDisplayAtItsPixelSize) {
  StateFixture fixture({std::nullopt, "com.example.Notes"});
  prepare(fixture);
  fixture.desktop.apps.push_back({12, "com.example.Mail", "Mail 2", std::nullopt, 0});
  fixture.desktop.answer_content = [&](const ContentHandler& handler) {
    handler(std::make_shared<ListedContent>(
                std::vector<std::uint32_t>{3, 7, 7},
                std::vector<ShareableApplication>{
                    {"com.example.Notes", 11}, {"com.example.Mail", 10}, {"com.example.Mail", 12}}),
            std::nullopt);
  };
  fixture.grant({"com.example.Mail", "com.example.Notes"});
  EXPECT_EQ(capture(fixture, 0).json, success(4, 2));
  ASSERT_EQ(fixture.desktop.shots.size(), 1u);
  const ScreenshotParams& shot = fixture.desktop.shots[0];
  EXPECT_EQ(shot.display_index, 1u);
  EXPECT_EQ(shot.application_indexes, (std::vector<std::size_t>{1, 2}));
  EXPECT_EQ(shot.width, 4u);
  EXPECT_EQ(shot.height, 2u);
}

TEST(Capture, UsesTheGrantsAsTheyWereWhenItStarted) {
  StateFixture fixture;
  prepare(fixture);
  fixture.grant({"com.example.Mail"});
  fixture.desktop.answer_content = [&](const ContentHandler& handler) {
    fixture.grant({});
    handler(fixture.desktop.default_content(), std::nullopt);
  };
  EXPECT_EQ(capture(fixture, 0).json, success(4, 2));
  ASSERT_EQ(fixture.desktop.shots.size(), 1u);
  EXPECT_EQ(fixture.desktop.shots[0].application_indexes, std::vector<std::size_t>{0});
}

TEST(Capture, OnlyTheFirstAnswerOfAHandlerCounts) {
  StateFixture fixture;
  prepare(fixture);
  fixture.grant({"com.example.Mail"});
  fixture.desktop.answer_content = [&](const ContentHandler& handler) {
    handler(fixture.desktop.default_content(), std::nullopt);
    handler(nullptr, "second");
  };
  fixture.desktop.answer_image = [](const ScreenshotParams&, const ImageHandler& handler) {
    FakeImage first = patterned(0);
    handler(&first, std::nullopt);
    handler(nullptr, "second");
  };
  const Answer answer = capture(fixture, 0);
  EXPECT_EQ(answer.json, success(4, 2));
  EXPECT_EQ(answer.payload, patterned_payload());
}

TEST(Capture, DropsAnswersThatComeAfterTheWait) {
  StateFixture fixture;
  prepare(fixture);
  fixture.grant({"com.example.Mail"});
  ContentHandler late_content;
  ImageHandler late_image;
  fixture.desktop.answer_content = [&](const ContentHandler& handler) { late_content = handler; };
  EXPECT_EQ(capture(fixture, 0).json, failure(kCaptureNoAnswer));
  late_content(fixture.desktop.default_content(), std::nullopt);

  fixture.desktop.answer_content = [&](const ContentHandler& handler) {
    handler(fixture.desktop.default_content(), std::nullopt);
  };
  fixture.desktop.answer_image = [&](const ScreenshotParams&, const ImageHandler& handler) {
    late_image = handler;
  };
  EXPECT_EQ(capture(fixture, 0).json, failure(kCaptureNoAnswer));
  FakeImage image = patterned(0);
  late_image(&image, std::nullopt);
  // The server goes on: the next capture is answered normally.
  fixture.desktop.answer_image = answer_with(patterned(0));
  EXPECT_EQ(capture(fixture, 0).payload, patterned_payload());
}

}  // namespace
}  // namespace kestrum::computer
