#include "proxy/head.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <thread>

#include "base/descriptors.h"

namespace kestrum::sandbox {
namespace {

TEST(ParseRequest, ReadsHostPortPathAndKind) {
  struct Case {
    std::string line;
    std::optional<ProxyRequest> want;
  };
  const Case cases[] = {
      {"CONNECT api.test HTTP/1.1", ProxyRequest{"api.test", 443, "", true}},
      {"CONNECT [::1]:8443 HTTP/1.1", ProxyRequest{"::1", 8443, "", true}},
      {"CONNECT [::1]x HTTP/1.1", ProxyRequest{"::1", 443, "", true}},
      {"cOnNeCt Api.Test:+8 HTTP/1.1", ProxyRequest{"api.test", 8, "", true}},
      {"GET http://Api.TEST HTTP/1.1", ProxyRequest{"api.test", 80, "/", false}},
      {"GET http://a.b:81/x?y=1 HTTP/1.1", ProxyRequest{"a.b", 81, "/x?y=1", false}},
      {"POST http://a.b/x", ProxyRequest{"a.b", 80, "/x", false}},
      {"GET http://::1 HTTP/1.1", ProxyRequest{":", 1, "/", false}},
      {"CONNECTX http://a.b/ HTTP/1.1", ProxyRequest{"a.b", 80, "/", false}},
      {"CONNECTX a.b:443 HTTP/1.1", std::nullopt},
      {"GET https://a.b/ HTTP/1.1", std::nullopt},
      {"GET /index.html HTTP/1.1", std::nullopt},
      {"GET HTTP://a.b/ HTTP/1.1", std::nullopt},
      {"CONNECT a.b: HTTP/1.1", std::nullopt},
      {"CONNECT :443 HTTP/1.1", std::nullopt},
      {"CONNECT a.b:65536 HTTP/1.1", std::nullopt},
      {"CONNECT a.b:-1 HTTP/1.1", std::nullopt},
      {"CONNECT [] HTTP/1.1", std::nullopt},
      {"CONNECT [::1 HTTP/1.1", std::nullopt},
      {"CONNECT  a.b:443 HTTP/1.1", std::nullopt},  // two spaces: the target is empty
      {"NOSPACE", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto got = parse_request(c.line + "\r\nHost: x");
    ASSERT_EQ(got.has_value(), c.want.has_value()) << c.line;
    if (!got) continue;
    EXPECT_EQ(got->host, c.want->host) << c.line;
    EXPECT_EQ(got->port, c.want->port) << c.line;
    EXPECT_EQ(got->path, c.want->path) << c.line;
    EXPECT_EQ(got->is_connect, c.want->is_connect) << c.line;
  }
}

TEST(ParseRequest, FirstLineEndsAtLineFeedWithOrWithoutCarriageReturn) {
  ASSERT_TRUE(parse_request("CONNECT a.b:1 HTTP/1.1\nX: y"));
  EXPECT_EQ(parse_request("CONNECT a.b:1\nX: y")->port, 1);
  EXPECT_EQ(parse_request("CONNECT a.b:2\r")->port, 2);
}

TEST(PercentDecode, DecodesOnlyWellFormedEscapes) {
  const std::pair<std::string, std::string> cases[] = {
      {"%41%zz%4", "A%zz%4"},
      {"%e2%82%AC", "\xE2\x82\xAC"},
      {"%", "%"},
      {"%%41", "%A"},
      {"https%3A%2F%2Fa.test%2Fp%3Fq%3D1%26r%3D2", "https://a.test/p?q=1&r=2"},
      {"%FF", "\xEF\xBF\xBD"},
      {"a+b", "a+b"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(percent_decode(in), out) << in;
}

TEST(TakeHead, AppliesTheTerminatorAndLimitRules) {
  const std::string filler(kHeadLimit, 'a');
  // Needs more: no terminator and not past the limit.
  EXPECT_FALSE(take_head(filler, 0).has_value());
  // One byte over the limit without a terminator fails.
  auto over = take_head(filler + "b", kHeadLimit);
  ASSERT_TRUE(over.has_value());
  ASSERT_FALSE(over->ok());
  EXPECT_EQ(over->error(), kHeadTooLong);
  // A terminator completed in the read that crossed the limit still counts.
  auto crossing = take_head(filler + "\r\n\r\nrest", kHeadLimit - 2);
  ASSERT_TRUE(crossing.has_value() && crossing->ok());
  EXPECT_EQ((*crossing)->text, filler);
  EXPECT_EQ((*crossing)->rest, "rest");
  // A terminator split across two reads is found.
  auto split = take_head("GET x\r\n\r\n", 7);
  ASSERT_TRUE(split.has_value() && split->ok());
  EXPECT_EQ((*split)->text, "GET x");
  // Invalid UTF-8 in the head becomes U+FFFD; rest stays raw.
  auto lossy = take_head("a\xff\r\n\r\n\xff", 0);
  EXPECT_EQ((*lossy)->text, "a\xEF\xBF\xBD");
  EXPECT_EQ((*lossy)->rest, "\xff");
}

TEST(ReadHead, ReadsFromARealSocketAndReportsEndOfStream) {
  auto pair = cloexec_socket_pair();
  ASSERT_TRUE(pair.ok());
  ProxyStream reader{std::move(pair->read), ProxyStream::Kind::kUnixDomain};
  {
    ProxyStream writer{std::move(pair->write), ProxyStream::Kind::kUnixDomain};
    std::thread sender([&] {
      // Dribbles the head a byte at a time so the terminator straddles reads.
      for (char c : std::string("CONNECT a:1 HTTP/1.1\r\n\r\nTLS")) {
        ASSERT_TRUE(writer.write_all(std::string(1, c)).ok());
      }
    });
    sender.join();
  }
  auto head = read_head(reader);
  ASSERT_TRUE(head.ok()) << head.error();
  EXPECT_EQ(head->text, "CONNECT a:1 HTTP/1.1");
  // Reads stop at the terminator, so later bytes may or may not be in rest.
  EXPECT_TRUE(std::string("TLS").starts_with(head->rest));

  auto pair2 = cloexec_socket_pair();
  ASSERT_TRUE(pair2.ok());
  ProxyStream cut{std::move(pair2->read), ProxyStream::Kind::kUnixDomain};
  {
    ProxyStream writer{std::move(pair2->write), ProxyStream::Kind::kUnixDomain};
    ASSERT_TRUE(writer.write_all("GET http://a/ HTTP/1.1\r\n").ok());
  }
  auto failed = read_head(cut);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error(), kHeadCutShort);
}

}  // namespace
}  // namespace kestrum::sandbox
