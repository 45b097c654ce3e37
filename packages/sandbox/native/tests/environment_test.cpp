#include "policy/environment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

extern char** environ;

// Table rows name only the members that matter; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kestrum::sandbox {
namespace {

TEST(EnvironmentTest, PatternMatching) {
  const struct {
    std::string_view name, pattern;
    bool matches;
  } cases[] = {
      {"GITHUB_TOKEN", "*_TOKEN", true},
      {"github_token", "*_TOKEN", true},
      {"TOKEN_FILE", "*_TOKEN", false},
      {"AWS_SECRET_ACCESS_KEY", "aws_*", true},
      {"Path", "PATH", true},
      {"PATH2", "PATH", false},
      {"ANY", "*", true},
      {"", "*", true},
      {"ab", "a**b", true},
      {"a", "a*a", false},  // prefix and suffix may not overlap
      {"aa", "a*a", true},
      {"a_x_y_b", "a*x*y*b", true},
      {"a_y_x_b", "a*x*y*b", false},  // middle pieces in order
      {"abc", "a*bc*c", false},       // a middle piece may not reach into the suffix
      {"axbxbc", "a*b*bc", true},
      {"\xc3\x84X", "\xc3\xa4x", false},  // only ASCII letters are folded
      {"\xc3\x84X", "\xc3\x84x", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(env_pattern_matches(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
  }
}

std::vector<EnvEntry> proxy_entries(const std::string& address) {
  return {{"HTTP_PROXY", address},
          {"HTTPS_PROXY", address},
          {"ALL_PROXY", address},
          {"http_proxy", address},
          {"https_proxy", address},
          {"all_proxy", address},
          {"npm_config_proxy", address},
          {"npm_config_https_proxy", address},
          {"NODE_USE_ENV_PROXY", "1"},
          {"NO_PROXY", ""},
          {"no_proxy", ""},
          {"npm_config_noproxy", ""}};
}

std::vector<EnvEntry> certificate_entries(const std::string& bundle) {
  std::vector<EnvEntry> entries;
  for (const char* name : {"SSL_CERT_FILE", "NODE_EXTRA_CA_CERTS", "REQUESTS_CA_BUNDLE",
                           "CURL_CA_BUNDLE", "GIT_SSL_CAINFO", "ZUVEV_CA_CERTIFICATE", "PIP_CERT",
                           "DENO_CERT", "AWS_CA_BUNDLE", "CARGO_HTTP_CAINFO"}) {
    entries.emplace_back(name, bundle);
  }
  return entries;
}

std::vector<EnvEntry> operator+(std::vector<EnvEntry> a, const std::vector<EnvEntry>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(EnvironmentTest, ChildEnvironment) {
  const EnvEntry default_bundle{"SSL_CERT_FILE", "/etc/ssl/cert.pem"};
  const Credentials credentials{"/run/cred.sock", "cred", {}, "/etc/../certs/bundle.pem"};
  const struct {
    std::string name;
    Policy policy;
    std::optional<std::uint16_t> port;
    std::vector<EnvEntry> launcher, expected;
  } cases[] = {
      {"proxy names go even when kept",
       {.keep_env = {"HTTPS_PROXY", "Http_Proxy"}},
       std::nullopt,
       {{"HTTPS_PROXY", "a"},
        {"Http_Proxy", "b"},
        {"NO_PROXY", "c"},
        {"all_proxy", "d"},
        {"NPM_CONFIG_PROXY", "e"},
        {"npm_config_https_proxy", "f"},
        {"npm_config_NoProxy", "g"},
        {"node_use_env_proxy", "h"},
        {"HTTP_PROXY_HOST", "i"},
        {"PATH", "/bin"}},
       {{"HTTP_PROXY_HOST", "i"}, {"PATH", "/bin"}, default_bundle}},
      {"a port replaces the proxy settings",
       {},
       8080,
       {{"HTTP_PROXY", "http://corp:3128"}, {"PATH", "/bin"}},
       std::vector<EnvEntry>{{"PATH", "/bin"}} + proxy_entries("http://127.0.0.1:8080") +
           std::vector<EnvEntry>{default_bundle}},
      {"highest port",
       {},
       65535,
       {},
       proxy_entries("http://127.0.0.1:65535") + std::vector<EnvEntry>{default_bundle}},
      {"patterns and kept names",
       {.deny_env = {"*_TOKEN", "aws_*"}, .keep_env = {"AWS_REGION"}},
       std::nullopt,
       {{"GITHUB_TOKEN", "1"},
        {"github_token", "2"},
        {"TOKEN_FILE", "3"},
        {"AWS_SECRET_ACCESS_KEY", "4"},
        {"AWS_REGION", "5"},
        {"aws_region", "6"}},
       {{"TOKEN_FILE", "3"}, {"AWS_REGION", "5"}, default_bundle}},
      {"a lone star keeps only what the launcher adds",
       {.deny_env = {"*"}, .keep_env = {"HOME"}, .network = {.credentials = credentials}},
       3128,
       {{"HOME", "/u"}, {"PATH", "/bin"}, {"SSL_CERT_FILE", "/mine"}, {"http_proxy", "x"}},
       std::vector<EnvEntry>{{"HOME", "/u"}} + proxy_entries("http://127.0.0.1:3128") +
           certificate_entries("/etc/../certs/bundle.pem")},
      {"credentials replace certificate variables, matched exactly",
       {.network = {.credentials = credentials}},
       std::nullopt,
       {{"NODE_EXTRA_CA_CERTS", "/old"}, {"ssl_cert_file", "/lower"}, {"B", "=x"}},
       std::vector<EnvEntry>{{"ssl_cert_file", "/lower"}, {"B", "=x"}} +
           certificate_entries("/etc/../certs/bundle.pem")},
      {"an inherited bundle passes",
       {},
       std::nullopt,
       {{"SSL_CERT_FILE", "/opt/ca.pem"}, {"B", "1"}, {"A", "2"}, {"B", "3"}},
       {{"SSL_CERT_FILE", "/opt/ca.pem"}, {"B", "1"}, {"A", "2"}, {"B", "3"}}},
      {"a denied bundle is replaced by the default",
       {.deny_env = {"ssl_*"}},
       std::nullopt,
       {{"SSL_CERT_FILE", "/opt/ca.pem"}},
       {default_bundle}},
      {"names matched as text, passed as bytes",
       {.deny_env = {"*_token",
                     "*\xef\xbf\xbd"
                     "x",
                     "keep*"},
        .keep_env = {"KEEP\xef\xbf\xbd"}},
       std::nullopt,
       {{"BAD\xff_TOKEN", "1"},
        {"KEEP\xff", "\xfe"},
        {"KEEP\xef\xbf\xbd", "3"},
        {"A\xc3\xbf"
         "x",
         "4"},
        {"A\xff"
         "x",
         "5"}},
       {{"KEEP\xff", "\xfe"},
        {"KEEP\xef\xbf\xbd", "3"},
        {"A\xc3\xbf"
         "x",
         "4"},
        default_bundle}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(child_environment(PreparedPolicy{c.policy}, c.port, c.launcher), c.expected)
        << c.name;
  }
}

TEST(EnvironmentTest, FinalizeKeepsLastOfEachNameInByteOrder) {
  const struct {
    std::vector<EnvEntry> entries;
    std::vector<std::string> strings;
  } cases[] = {
      {{{"A", "1"}, {"B", "2"}, {"A", "3"}}, {"A=3", "B=2"}},
      {{{"b", ""}, {"\xff", "x"}, {"_", "="}, {"Z", "z"}, {"B", "a=b"}, {"a", "\xfe"}},
       {"B=a=b", "Z=z", "_==", "a=\xfe", "b=", "\xff=x"}},
      {{}, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(finalize_environment(c.entries), c.strings);
}

TEST(EnvironmentTest, ReadsTheProcessEnvironmentSplitAtFirstEquals) {
  char a[] = "A=1", bare[] = "NO_EQUALS", b[] = "B==2", empty[] = "=lead", c[] = "C=";
  char* fake[] = {a, bare, b, empty, c, nullptr};
  char** saved = environ;
  environ = fake;
  const std::vector<EnvEntry> read = launcher_environment();
  environ = saved;
  EXPECT_EQ(read, (std::vector<EnvEntry>{{"A", "1"}, {"B", "=2"}, {"", "lead"}, {"C", ""}}));
}

}  // namespace
}  // namespace kestrum::sandbox
