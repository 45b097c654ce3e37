#include "proxy/rules.h"

#include <gtest/gtest.h>

namespace kestrum::sandbox {
namespace {

TEST(HostMatches, FollowsExactAndWildcardRules) {
  struct Case {
    std::vector<std::string> patterns;
    std::string host;
    bool want;
  };
  const Case cases[] = {
      {{"api.test"}, "api.test", true},
      {{"api.test"}, "API.test.", true},
      {{"api.test"}, "api.test...", true},
      {{"api.test"}, "w.api.test", false},
      {{"API.Test"}, "api.test", true},
      {{"api.test."}, "api.test", false},  // a pattern keeps its trailing dot
      {{"*.api.test"}, "x.api.test", true},
      {{"*.api.test"}, "a.b.api.test", true},
      {{"*.api.test"}, "api.test", false},
      {{"*.api.test"}, ".api.test", false},
      {{"*.API.test"}, "X.api.TEST", true},
      {{"*"}, "anything", false},
      {{"*"}, "*", true},
      {{"*."}, "a.", false},
      {{"[::1]"}, "::1", false},
      {{"::1"}, "::1", true},
      {{}, "api.test", false},
      {{"nope", "*.test"}, "a.test", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(host_matches(c.patterns, c.host), c.want)
        << c.host << " against " << ::testing::PrintToString(c.patterns);
  }
}

TEST(ForbiddenResponse, NamesTheHostWithAnExactLength) {
  const std::string body =
      "The Kestrum sandbox does not allow b.test; ask for it in network_hosts.\n";
  ASSERT_EQ(body.size(), 72u);
  EXPECT_EQ(forbidden_response("b.test"),
            "HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\nContent-Length: "
            "72\r\nConnection: close\r\n\r\n" +
                body);
}

TEST(FormatAuthority, BracketsIpv6) {
  EXPECT_EQ(format_authority("git.test", 443), "git.test:443");
  EXPECT_EQ(format_authority("::1", 443), "[::1]:443");
  EXPECT_EQ(format_authority("a", 0), "a:0");
}

TEST(RewriteHead, MakesOriginFormAndDropsProxyHeaders) {
  struct Case {
    std::string head;
    std::string path;
    std::string want;
  };
  const Case cases[] = {
      {"GET http://a.test/x HTTP/1.1\r\nHost: a.test\r\nProxy-Connection: keep-alive\r\n"
       "Proxy-Authorization: Basic x\r\nConnection: keep-alive\r\nAccept: */*",
       "/x", "GET /x HTTP/1.1\r\nHost: a.test\r\nAccept: */*\r\nConnection: close\r\n\r\n"},
      {"POST http://a.test HTTP/1.0", "/", "POST / HTTP/1.0\r\nConnection: close\r\n\r\n"},
      // Names are not trimmed: " connection" is not the connection header.
      {"GET http://a/ HTTP/1.1\r\nCONNECTION: x\r\n connection: y\r\nconnection :z\r\nNoColon", "/",
       "GET / HTTP/1.1\r\n connection: y\r\nconnection :z\r\nNoColon\r\nConnection: close\r\n\r\n"},
      // The version is whatever follows the last space.
      {"GET http://a/ b HTTP/2", "/", "GET / HTTP/2\r\nConnection: close\r\n\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(rewrite_head(c.head, c.path), c.want) << c.head;
}

}  // namespace
}  // namespace kestrum::sandbox
