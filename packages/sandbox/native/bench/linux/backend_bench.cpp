// The Linux backend's start overhead: /bin/true run directly, through the
// pass-through stand-in, through the backend alone, and through the whole
// launcher (without and with the proxy), in one session. The variants take
// turns so that the shared machine's noise falls on all of them alike;
// medians are reported with their ratio to the direct run and the time
// added. Run from <build>/bin: `backend_bench [rounds [launcher...]]`; each
// further launcher (another build of kestrum-sandbox, say) is timed beside
// this build's as one more variant.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "policy/policy.h"
#include "policy/profile.h"
#include "testing/files.h"
#include "testing/linux/procfs.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using kestrum::testing::bin_dir;

// A project with a denied .git, a home with hidden folders and an exception.
struct Tree {
  Tree() {
    char pattern[] = "/tmp/kestrum-backend-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    root = fs::canonical(pattern).string();
    for (const char* folder : {"project/.git", "home/.ssh", "home/.aws/sso", "home/.config/gh"})
      fs::create_directories(root + "/" + folder);
    std::ofstream(root + "/project/.env") << "x";
  }
  ~Tree() { fs::remove_all(root); }
  std::string at(const std::string& relative) const { return root + "/" + relative; }
  std::string root;
};

std::string policy_json(const Tree& tree, const std::string& network) {
  auto list = [](std::initializer_list<std::string> items) {
    std::string text = "[";
    for (const std::string& item : items) text += (text.size() > 1 ? ",\"" : "\"") + item + "\"";
    return text + "]";
  };
  return R"({"version":6,"cwd":")" + tree.at("project") + R"(","write":)" +
         list({tree.at("project"), tree.at("home/.aws/sso")}) + R"(,"denyWrite":)" +
         list({tree.at("project/.git"), tree.at("project/.env")}) + R"(,"denyRead":)" +
         list({tree.at("home/.ssh"), tree.at("home/.aws"), tree.at("home/.config")}) +
         R"(,"denyReadExcept":)" + list({tree.at("home/.aws/sso")}) +
         R"(,"denyEnv":[],"network":)" + network + "}";
}

// The profile the launcher writes for the same policy.
std::string profile(const Tree& tree) {
  kestrum::sandbox::PreparedPolicy policy;
  policy.write = {tree.at("home/.aws/sso"), tree.at("project")};
  policy.deny_write = {tree.at("project/.env"), tree.at("project/.git")};
  policy.deny_read = {tree.at("home/.aws"), tree.at("home/.config"), tree.at("home/.ssh")};
  policy.deny_read_except = {tree.at("home/.aws/sso")};
  return kestrum::sandbox::build_profile(policy, std::nullopt);
}

// bubblewrap with the same layout: the tree read-only, the project and the
// exception writable, .git and .env read-only, the hidden folders empty,
// and private PID, IPC and network namespaces. Empty when bwrap is missing.
std::vector<std::string> bubblewrap(const Tree& tree) {
  const std::string bwrap = "/usr/bin/bwrap";
  if (::access(bwrap.c_str(), X_OK) != 0) return {};
  return {bwrap,
          "--ro-bind",
          "/",
          "/",
          "--dev",
          "/dev",
          "--proc",
          "/proc",
          "--bind",
          tree.at("project"),
          tree.at("project"),
          "--ro-bind",
          tree.at("project/.git"),
          tree.at("project/.git"),
          "--ro-bind",
          tree.at("project/.env"),
          tree.at("project/.env"),
          "--tmpfs",
          tree.at("home/.ssh"),
          "--tmpfs",
          tree.at("home/.aws"),
          "--bind",
          tree.at("home/.aws/sso"),
          tree.at("home/.aws/sso"),
          "--tmpfs",
          tree.at("home/.config"),
          "--unshare-pid",
          "--unshare-ipc",
          "--unshare-net",
          "--die-with-parent",
          "--chdir",
          tree.at("project"),
          "--",
          "/bin/true"};
}

double run_once(const std::vector<std::string>& argv, const std::string& cwd) {
  std::vector<char*> pointers;
  for (const std::string& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
  pointers.push_back(nullptr);
  const auto start = Clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::execve(pointers[0], pointers.data(), environ);
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed with status %d\n", argv[0].c_str(), status);
    std::exit(1);
  }
  return ms;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
  const Tree tree;
  const std::string bin = bin_dir();
  const std::string text = profile(tree);
  struct Variant {
    std::string name;
    std::vector<std::string> argv;
    std::vector<double> times;
  };
  std::vector<Variant> variants = {
      {"/bin/true directly", {"/bin/true"}, {}},
      {"pass-through stand-in", {bin + "/kestrum-passthrough", "-p", text, "/bin/true"}, {}},
      {"backend alone", {bin + "/kestrum-seatbelt-linux", "-p", text, "/bin/true"}, {}},
      {"kestrum-sandbox run",
       {bin + "/kestrum-sandbox", "run", "--policy", policy_json(tree, R"({"allow":[]})"), "--",
        "/bin/true"},
       {}},
      {"kestrum-sandbox run, proxy",
       {bin + "/kestrum-sandbox", "run", "--policy", policy_json(tree, R"({"allow":["a.test"]})"),
        "--", "/bin/true"},
       {}},
  };
  if (auto argv_bwrap = bubblewrap(tree); !argv_bwrap.empty())
    variants.push_back({"bubblewrap, same layout", std::move(argv_bwrap), {}});
  for (int i = 2; i < argc; ++i) {
    variants.push_back(
        {std::string("run with ") + argv[i],
         {argv[i], "run", "--policy", policy_json(tree, R"({"allow":[]})"), "--", "/bin/true"},
         {}});
  }
  for (Variant& variant : variants) run_once(variant.argv, tree.at("project"));  // warm caches
  for (int round = 0; round < rounds; ++round) {
    for (Variant& variant : variants)
      variant.times.push_back(run_once(variant.argv, tree.at("project")));
  }
  const double direct = median(variants[0].times);
  std::printf("%-28s %10s %8s %12s\n", "variant (median)", "ms", "ratio", "added ms");
  for (const Variant& variant : variants) {
    const double ms = median(variant.times);
    std::printf("%-28s %10.3f %8.2f %12.3f\n", variant.name.c_str(), ms, ms / direct, ms - direct);
  }
  std::printf("backend's own start overhead (backend alone - pass-through): %.3f ms\n",
              median(variants[2].times) - median(variants[1].times));
  if (variants.size() > 5 && variants[5].name.starts_with("bubblewrap")) {
    std::printf("kestrum-sandbox run / bubblewrap: %.2f\n",
                median(variants[3].times) / median(variants[5].times));
  }
  return 0;
}
