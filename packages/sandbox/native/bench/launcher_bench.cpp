// The launcher's own work before it execs the sandbox tool, for a realistic
// policy, against the cost of a plain fork + exec + wait of /bin/true in the
// same process. Compare medians as ratios to the baseline; absolute figures
// mean little on a shared machine.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "policy/environment.h"
#include "policy/policy.h"
#include "policy/profile.h"

extern char** environ;

namespace kestrum::sandbox {
namespace {

// A project folder, a home with hidden folders and their exceptions, some
// links and some entries that do not exist, as a real policy would name.
class BenchTree {
 public:
  BenchTree() {
    char pattern[] = "/tmp/kestrum-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    root_ = std::filesystem::canonical(pattern).string();
    for (const char* folder :
         {"home/project/src", "home/project/.git/hooks", "home/.ssh", "home/.aws/sso/cache",
          "home/.config/gh", "home/.cache/npm", "home/.gnupg", "home/.kube", "tmp", "run"}) {
      std::filesystem::create_directories(at(folder));
    }
    for (const char* file : {"home/project/.env", "home/.npmrc", "home/.netrc"}) {
      std::ofstream(at(file)) << "x";
    }
    std::filesystem::create_symlink(at("home/project"), at("project-link"));
  }
  ~BenchTree() { std::filesystem::remove_all(root_); }
  BenchTree(const BenchTree&) = delete;
  BenchTree& operator=(const BenchTree&) = delete;

  std::string at(const std::string& relative) const { return root_ + "/" + relative; }

  std::vector<std::string> at(std::initializer_list<const char*> relative) const {
    std::vector<std::string> paths;
    for (const char* path : relative) paths.push_back(at(path));
    return paths;
  }

 private:
  std::string root_;
};

std::vector<std::string> hosts() {
  std::vector<std::string> allow = {"github.com",         "*.github.com", "*.githubusercontent.com",
                                    "registry.npmjs.org", "pypi.org",     "files.pythonhosted.org"};
  for (int i = 0; allow.size() < 20; ++i)
    allow.push_back("*.service" + std::to_string(i) + ".example");
  return allow;
}

// 20 paths: 4 write, 3 writeFiles, 3 denyWrite, 5 denyRead, 3 exceptions, 2 sockets.
Policy realistic_policy(const BenchTree& tree) {
  Policy policy;
  policy.version = kPolicyVersion;
  policy.cwd = tree.at("project-link");
  policy.write = tree.at({"project-link", "tmp", "home/.cache/npm", "missing-folder"});
  policy.write_files = tree.at({"home/.npmrc", "home/project/new.log", "missing/file"});
  policy.deny_write =
      tree.at({"home/project/.git/hooks", "home/project/.env", "project-link/.vscode"});
  policy.deny_read =
      tree.at({"home/.ssh", "home/.aws", "home/.config", "home/.gnupg", "home/.kube"});
  policy.deny_read_except = tree.at({"home/.aws/sso", "home/.config/gh", "home/.aws/sso/cache"});
  policy.deny_env = {"*_TOKEN", "*_SECRET*",  "AWS_*", "GH_*",          "GITHUB_*",
                     "NPM_*",   "*PASSWORD*", "*_KEY", "SSH_AUTH_SOCK", "DOCKER_*"};
  policy.keep_env = {"AWS_REGION", "GITHUB_ACTIONS"};
  policy.network.allow = hosts();
  policy.network.sockets = tree.at({"run/docker.sock", "run/agent.sock"});
  return policy;
}

std::string json_list(const std::vector<std::string>& texts) {
  std::string json = "[";
  for (const std::string& text : texts) json += (json.size() > 1 ? ",\"" : "\"") + text + "\"";
  return json + "]";
}

// The same policy as the outer product would write it (paths under /tmp
// need no JSON escaping).
std::string realistic_policy_text(const Policy& p) {
  return "{\"version\":6,\"cwd\":\"" + p.cwd + "\",\"write\":" + json_list(p.write) +
         ",\"writeFiles\":" + json_list(p.write_files) +
         ",\"denyWrite\":" + json_list(p.deny_write) + ",\"denyRead\":" + json_list(p.deny_read) +
         ",\"denyReadExcept\":" + json_list(p.deny_read_except) +
         ",\"denyEnv\":" + json_list(p.deny_env) + ",\"keepEnv\":" + json_list(p.keep_env) +
         ",\"keychain\":false,\"network\":{\"allow\":" + json_list(p.network.allow) +
         ",\"sockets\":" + json_list(p.network.sockets) + "}}";
}

// The launcher's inherited environment plus the kind a developer's shell has.
std::vector<EnvEntry> launcher_env() {
  std::vector<EnvEntry> env = launcher_environment();
  const EnvEntry extra[] = {{"GITHUB_TOKEN", "ghp_x"},        {"AWS_REGION", "eu-west-1"},
                            {"AWS_SECRET_ACCESS_KEY", "s"},   {"HTTPS_PROXY", "http://corp:3128"},
                            {"NPM_CONFIG_PREFIX", "/u/.npm"}, {"LANG", "en_US.UTF-8"}};
  env.insert(env.end(), std::begin(extra), std::end(extra));
  return env;
}

constexpr std::uint16_t kPort = 49152;

void BM_PreparePolicy(benchmark::State& state) {
  const BenchTree tree;
  const Policy policy = realistic_policy(tree);
  for (auto _ : state) {
    auto prepared = prepare_policy(policy);
    if (!prepared) return state.SkipWithError(prepared.error().c_str());
    benchmark::DoNotOptimize(prepared);
  }
}
BENCHMARK(BM_PreparePolicy);

void BM_BuildProfile(benchmark::State& state) {
  const BenchTree tree;
  const auto prepared = prepare_policy(realistic_policy(tree));
  if (!prepared) return state.SkipWithError(prepared.error().c_str());
  for (auto _ : state) benchmark::DoNotOptimize(build_profile(*prepared, kPort));
}
BENCHMARK(BM_BuildProfile);

void BM_ChildEnvironment(benchmark::State& state) {
  const BenchTree tree;
  const auto prepared = prepare_policy(realistic_policy(tree));
  if (!prepared) return state.SkipWithError(prepared.error().c_str());
  const std::vector<EnvEntry> env = launcher_env();
  for (auto _ : state) {
    benchmark::DoNotOptimize(finalize_environment(child_environment(*prepared, kPort, env)));
  }
}
BENCHMARK(BM_ChildEnvironment);

// Everything from the policy struct to the exec arguments, minus parsing.
void BM_PrepareProfileEnvironment(benchmark::State& state) {
  const BenchTree tree;
  const Policy policy = realistic_policy(tree);
  for (auto _ : state) {
    auto prepared = prepare_policy(policy);
    if (!prepared) return state.SkipWithError(prepared.error().c_str());
    benchmark::DoNotOptimize(build_profile(*prepared, kPort));
    benchmark::DoNotOptimize(
        finalize_environment(child_environment(*prepared, kPort, launcher_environment())));
  }
}
BENCHMARK(BM_PrepareProfileEnvironment);

// The baseline: the cheapest possible child process.
void BM_ForkExecTrue(benchmark::State& state) {
  char program[] = "/bin/true";
  char* argv[] = {program, nullptr};
  for (auto _ : state) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execve(program, argv, environ);
      ::_exit(127);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || status != 0) {
      return state.SkipWithError("fork + exec of /bin/true failed");
    }
  }
}
BENCHMARK(BM_ForkExecTrue)->UseRealTime();

// ---- Parsing the policy text ------------------------------------------------

void BM_ParsePolicy(benchmark::State& state) {
  const BenchTree tree;
  const std::string text = realistic_policy_text(realistic_policy(tree));
  for (auto _ : state) {
    auto policy = parse_policy(text);
    if (!policy) return state.SkipWithError(policy.error().c_str());
    benchmark::DoNotOptimize(policy);
  }
}
BENCHMARK(BM_ParsePolicy);

}  // namespace
}  // namespace kestrum::sandbox

BENCHMARK_MAIN();
