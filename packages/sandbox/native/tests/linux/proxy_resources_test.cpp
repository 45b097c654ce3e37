// The proxy's threads and descriptors, read from /proc, come back to where
// they were once its connections are gone.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "raw_proxy.h"
#include "testing/linux/procfs.h"

namespace kestrum::testing {
namespace {

class ProxyResources : public RawProxy {
 protected:
  std::size_t count(const std::string& what) {
    return count_entries("/proc/" + std::to_string(launcher_->pid()) + "/" + what);
  }

  bool settles_to(std::size_t threads, std::size_t fds) {
    for (int i = 0; i < 200; ++i) {
      if (count("task") == threads && count("fd") == fds) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }
};

TEST_F(ProxyResources, SettleAfterEveryKindOfConnection) {
  start(kEveryKindNetwork, false);
  const std::size_t idle_threads = count("task");
  const std::size_t idle_fds = count("fd");
  exercise_every_kind_of_connection();
  EXPECT_TRUE(settles_to(idle_threads, idle_fds))
      << "threads or descriptors outlived their connections";
  EXPECT_EQ(finish().exit_code, 0);
}

}  // namespace
}  // namespace kestrum::testing
