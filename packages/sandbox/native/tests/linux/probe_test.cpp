// Black-box tests of the probe. Linux-only: the probe's folder follows
// TMPDIR here (Apple uses the per-user temporary folder). Its success through
// the real sandbox is the backend's test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "process.h"

namespace kestrum::testing {
namespace {

bool empty_folder(const std::string& path) { return std::filesystem::is_empty(path); }

TEST(Probe, ReportsAMissingSandboxWithoutTouchingTheTemporaryFolder) {
  TempDir tmp;
  const ProcessResult result =
      run_process({bin_dir() + "/kestrum-sandbox-missing", "probe", "ignored"},
                  std::vector<std::string>{"TMPDIR=" + tmp.path()});
  EXPECT_EQ(result.exit_code, 125);
  EXPECT_EQ(result.err, "kestrum-sandbox: this computer has no sandbox\n");
  EXPECT_TRUE(empty_folder(tmp.path()));
}

TEST(Probe, APassThroughSandboxFailsAndLeavesNothingBehind) {
  TempDir tmp;
  const ProcessResult result =
      run_process({bin_dir() + "/kestrum-sandbox-recorded", "probe"},
                  std::vector<std::string>{"TMPDIR=" + tmp.path() + "/", "PATH=/usr/bin:/bin"});
  EXPECT_EQ(result.exit_code, 125);
  EXPECT_EQ(result.err, "kestrum-sandbox: the sandbox did not keep a command to its project\n");
  EXPECT_TRUE(empty_folder(tmp.path()));
}

TEST(Probe, NeverFollowsALinkPlantedAtItsHiddenFile) {
  TempDir tmp;
  TempDir elsewhere;
  const std::string victim = elsewhere.path() + "/victim";
  write_file(victim, "precious");
  // The probe's folder is named after the probe's process ID, which the test
  // learns only by starting it; plant links for every plausible ID instead of
  // racing it: fork a child that plants for its own future exec.
  const pid_t child = ::fork();
  if (child == 0) {
    const std::string folder = tmp.path() + "/kestrum-sandbox-probe-" + std::to_string(::getpid());
    ::mkdir(folder.c_str(), 0777);
    if (::symlink(victim.c_str(), (folder + "/hidden").c_str()) != 0) ::_exit(99);
    const std::string exe = bin_dir() + "/kestrum-sandbox-recorded";
    const std::string tmpdir = "TMPDIR=" + tmp.path();
    char* const argv[] = {const_cast<char*>(exe.c_str()), const_cast<char*>("probe"), nullptr};
    char* const envp[] = {const_cast<char*>(tmpdir.c_str()), nullptr};
    ::execve(exe.c_str(), argv, envp);
    ::_exit(98);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 125);
  EXPECT_EQ(read_file(victim), "precious");
}

TEST(Probe, TemporaryFolderThatCannotBeWrittenGivesTheSystemError) {
  TempDir tmp;
  const std::string file = tmp.path() + "/not-a-folder";
  write_file(file, "");
  const ProcessResult result = run_process({bin_dir() + "/kestrum-sandbox-recorded", "probe"},
                                           std::vector<std::string>{"TMPDIR=" + file});
  EXPECT_EQ(result.exit_code, 125);
  EXPECT_EQ(result.err, "kestrum-sandbox: Not a directory (os error 20)\n");
}

}  // namespace
}  // namespace kestrum::testing
