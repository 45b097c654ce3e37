#include "main/probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "base/descriptors.h"
#include "base/system_error.h"
#include "base/unique_fd.h"
#include "base/utf8.h"
#include "json/writer.h"
#include "main/self.h"

namespace kestrum::sandbox {
namespace {

std::string join(std::string folder, std::string_view name) {
  if (folder.empty() || folder.back() != '/') folder.push_back('/');
  return folder.append(name);
}

bool make_folder(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

// T lives in a shared temporary folder, so anything already at T/hidden or
// at T itself may have been planted: never follow a link there, or the probe
// could be made to truncate another file.
Result<UniqueFd> make_layout(const std::string& folder) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(folder).parent_path(), ignored);
  if (!make_folder(folder)) return fail(last_system_error_text());
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir) return fail(last_system_error_text());
  if (::mkdirat(dir.get(), ".git", 0777) != 0 && errno != EEXIST)
    return fail(last_system_error_text());
  UniqueFd hidden(
      ::openat(dir.get(), "hidden", O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!hidden) return fail(last_system_error_text());
  if (::write(hidden.get(), "hidden", 6) != 6) return fail(last_system_error_text());
  // A reused folder must not answer for this run with an earlier run's files.
  ::unlinkat(dir.get(), "written", 0);
  ::unlinkat(dir.get(), ".git/written", 0);
  return dir;
}

// Runs the launcher's own `run` in `folder`; the exec error, if any, comes
// back through a close-on-exec pipe.
Result<int> run_child(const std::string& exe, const std::string& folder,
                      const std::string& policy) {
  auto ends = cloexec_pipe();
  if (!ends) return fail(system_error_text(ends.error()));
  UniqueFd read_end = std::move(ends->read);
  UniqueFd write_end = std::move(ends->write);
  const std::string script(kProbeScript);
  const char* argv[] = {exe.c_str(), "run", "--policy",     policy.c_str(), "--",
                        "/bin/sh",   "-c",  script.c_str(), nullptr};
  const pid_t child = ::fork();
  if (child < 0) return fail(last_system_error_text());
  if (child == 0) {
    int error = 0;
    if (::chdir(folder.c_str()) == 0) ::execv(exe.c_str(), const_cast<char* const*>(argv));
    error = errno;
    (void)!::write(write_end.get(), &error, sizeof error);
    ::_exit(127);
  }
  write_end.reset();
  int error = 0;
  const bool exec_failed = ::read(read_end.get(), &error, sizeof error) == sizeof error;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (exec_failed) return fail(system_error_text(error));
  return status;
}

bool kept_to_project(int status, const std::string& folder) {
  struct stat info;
  const bool wrote_project =
      ::lstat(join(folder, "written").c_str(), &info) == 0 && S_ISREG(info.st_mode);
  const bool wrote_git = ::lstat(join(folder, ".git/written").c_str(), &info) == 0;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 && wrote_project && !wrote_git;
}

}  // namespace

std::string probe_folder(int pid) {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string base = tmpdir ? tmpdir : user_temp_dir().value_or("/tmp");
  return join(std::move(base), "kestrum-sandbox-probe-" + std::to_string(pid));
}

std::string probe_policy(const std::string& folder) {
  json::Object network;
  network["allow"] = json::Array{};
  json::Object policy;
  policy["cwd"] = folder;
  policy["denyEnv"] = json::Array{};
  policy["denyRead"] = json::Array{json::Value(join(folder, "hidden"))};
  policy["denyWrite"] = json::Array{json::Value(join(folder, ".git"))};
  policy["network"] = std::move(network);
  policy["version"] = 6;
  policy["write"] = json::Array{json::Value(folder)};
  return json::to_json(json::Value(std::move(policy)));
}

Status run_probe(std::string_view tool) {
  struct stat info;
  if (::stat(std::string(tool).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return fail(std::string(kNoSandbox));
  }
  const std::string folder = probe_folder(::getpid());
  if (!is_valid_utf8(folder)) {
    return fail("the temporary folder " + utf8_lossy(folder) + " cannot be named in a policy");
  }
  auto layout = make_layout(folder);
  if (!layout) return fail(layout.error());
  const auto remove_folder = [&] {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  };
  auto exe = own_executable_path();
  if (!exe) return remove_folder(), fail(exe.error());
  auto status = run_child(*exe, folder, probe_policy(folder));
  if (!status) return remove_folder(), fail(status.error());
  const bool kept = kept_to_project(*status, folder);
  remove_folder();
  if (!kept) return fail(std::string(kProbeFailed));
  (void)!::write(STDOUT_FILENO, kProbeReport.data(), kProbeReport.size());
  return {};
}

}  // namespace kestrum::sandbox
