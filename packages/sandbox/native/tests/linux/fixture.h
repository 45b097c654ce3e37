// What the Linux backend's black-box tests share: a throw-away world with a
// project, a home holding hidden folders and an exception, and a folder
// outside every write rule; policies over it; runs through the real
// launcher, which execs the real backend.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "linux/landlock.h"
#include "process.h"

namespace kestrum::testing {

inline std::string launcher() { return bin_dir() + "/kestrum-sandbox"; }
inline std::string backend() { return bin_dir() + "/kestrum-seatbelt-linux"; }
inline std::string attacker() { return bin_dir() + "/kestrum-linux-attack"; }

// Why the backend cannot run here, or empty when it can.
inline std::string missing_abilities() {
  auto abi = sandbox::landlock_abi();
  return abi ? "" : abi.error();
}

inline std::string json_list(const std::vector<std::string>& items) {
  std::string text = "[";
  for (const std::string& item : items) text += (text.size() > 1 ? ",\"" : "\"") + item + "\"";
  return text + "]";
}

struct World {
  World() {
    for (const char* folder : {"project/.git", "outside", "home/.ssh", "home/.aws/sso/cache",
                               "work/app/.git", "work/deep/keys", "work/nested/gen"})
      std::filesystem::create_directories(at(folder));
    write_file(at("project/notes"), "notes");
    write_file(at("project/.git/HEAD"), "ref");
    write_file(at("outside/target"), "target");
    write_file(at("home/.ssh/id"), "secret");
    write_file(at("home/.aws/credentials"), "cred");
    write_file(at("home/.aws/sso/cache/token"), "token");
    std::filesystem::create_symlink(at("outside/target"), at("project/link-out"));
  }

  std::string at(const std::string& relative) const { return dir.path() + "/" + relative; }

  // The standard policy: write the project, the exception and a work folder,
  // never .git (nor, in the work folder, a .git and a .env two levels
  // down), hide .ssh and .aws but for .aws/sso, and work/deep/keys.
  // `network` is the network object.
  std::string policy(const std::string& network = R"({"allow":[]})") const {
    return R"({"version":6,"cwd":")" + at("project") + R"(","write":)" +
           json_list({at("project"), at("home/.aws/sso"), at("work")}) + R"(,"denyWrite":)" +
           json_list({at("project/.git"), at("work/app/.git"), at("work/nested/gen/.env")}) +
           R"(,"denyRead":)" + json_list({at("home/.ssh"), at("home/.aws"), at("work/deep/keys")}) +
           R"(,"denyReadExcept":)" + json_list({at("home/.aws/sso")}) +
           R"(,"denyEnv":[],"network":)" + network + "}";
  }

  TempDir dir;
};

inline ProcessOptions run_options(const std::string& policy, std::vector<std::string> command) {
  ProcessOptions options;
  options.argv = {launcher(), "run", "--policy", policy, "--"};
  options.argv.insert(options.argv.end(), command.begin(), command.end());
  return options;
}

inline bool exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace kestrum::testing
