// The X11 desktop against the X tools people use, on the same Xvfb in the
// same run: a capture of a 1920x1080 display with three granted windows
// against `xwd -root` and ImageMagick's `import -window root`, and 1,000
// pointer motions (as 1,000 "move" requests, and as one 1,000-point drag)
// against one xdotool process chaining 1,000 `mousemove` commands. Rows
// whose tool is not installed are left out. Runs alternate; the median of
// each is shown, with its ratio to the fastest tool.
//
// Run: x11_bench [runs]   (7 runs by default)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/server_process.h"
#include "x11/x_session.h"

namespace kestrum::computer::testing {
namespace {

using Clock = std::chrono::steady_clock;

double seconds(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void run_tool(const std::vector<std::string>& argv) {
  kestrum::testing::ChildOptions options;
  options.argv = {"/bin/sh", "-c", "exec \"$@\" >/dev/null 2>&1", "sh"};
  options.argv.insert(options.argv.end(), argv.begin(), argv.end());
  kestrum::testing::Child child(options);
  child.close_input();
  child.wait();
}

struct Row {
  std::string name;
  std::function<void()> work;
  std::vector<double> times;
};

std::string motion_path() {
  std::string path = "[";
  for (int i = 0; i < 1000; ++i) {
    path += (i ? ",[" : "[") + std::to_string(200 + i % 400) + "," + std::to_string(200 + i % 300) +
            "]";
  }
  return path + "]";
}

void bench(int runs) {
  XSession x("1920x1080x24");
  const std::string client = bin_dir() + "/kestrum-x11-test-client";
  const char* apps[][3] = {{"BenchA", "2080ff", "900x700+50+50"},
                           {"BenchB", "20c040", "900x700+500+200"},
                           {"BenchC", "c04020", "900x700+1000+350"}};
  for (const auto& app : apps) {
    x.start({client, app[0], app[1], app[2], "/dev/null"});
    x.wait_for_window(app[0]);
  }
  ServerProcess server(ServerOptions{{"serve"}, std::nullopt, -1, false, false, x.name()});
  int id = 0;
  const auto ask = [&](const std::string& request) {
    server.send("{\"id\":" + std::to_string(++id) + "," + request + "}\n");
    return *server.read_frame();
  };
  ask(R"("op":"grant","apps":["BenchA","BenchB","BenchC"])");
  const std::string path = motion_path();
  std::vector<std::string> xdotool = {"/usr/bin/xdotool"};
  for (int i = 0; i < 1000; ++i) {
    xdotool.insert(xdotool.end(),
                   {"mousemove", std::to_string(200 + i % 400), std::to_string(200 + i % 300)});
  }
  std::vector<Row> capture_rows = {
      {"kestrum capture (3 granted windows)", [&] { ask(R"("op":"capture","maxSide":0)"); }, {}},
  };
  if (::access("/usr/bin/xwd", X_OK) == 0) {
    capture_rows.push_back({"xwd -root",
                            [] {
                              run_tool({"/usr/bin/xwd", "-root", "-silent"});
                            },
                            {}});
  }
  if (::access("/usr/bin/import", X_OK) == 0) {
    capture_rows.push_back({"import -window root (miff)",
                            [] {
                              run_tool({"/usr/bin/import", "-window", "root", "miff:-"});
                            },
                            {}});
  }
  std::vector<Row> motion_rows = {
      {"kestrum 1,000 move requests",
       [&] {
         for (int i = 0; i < 1000; ++i) {
           ask(R"("op":"move","x":)" + std::to_string(200 + i % 400) + R"(,"y":)" +
               std::to_string(200 + i % 300));
         }
       },
       {}},
      {"kestrum one drag of 1,000 points", [&] { ask(R"("op":"drag","path":)" + path); }, {}},
  };
  if (::access("/usr/bin/xdotool", X_OK) == 0) {
    motion_rows.push_back({"xdotool 1,000 chained mousemove", [&] { run_tool(xdotool); }, {}});
  }
  for (int run = 0; run < runs; ++run) {
    for (auto* rows : {&capture_rows, &motion_rows}) {
      for (Row& row : *rows) row.times.push_back(seconds(row.work));
    }
  }
  for (auto* rows : {&capture_rows, &motion_rows}) {
    double fastest_tool = 0;
    for (std::size_t i = 1; i < rows->size(); ++i) {
      const double m = median((*rows)[i].times);
      if (fastest_tool == 0 || m < fastest_tool) fastest_tool = m;
    }
    for (Row& row : *rows) {
      const double m = median(row.times);
      std::printf("%-40s %9.2f ms", row.name.c_str(), m * 1000);
      if (fastest_tool > 0) std::printf("   %.2fx the fastest tool", m / fastest_tool);
      std::printf("\n");
    }
  }
  server.close_input();
  server.wait();
}

}  // namespace
}  // namespace kestrum::computer::testing

// An exception must unwind, so that the X session's programs end with it.
int main(int argc, char** argv) {
  try {
    kestrum::computer::testing::bench(argc > 1 ? std::atoi(argv[1]) : 7);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "x11_bench: %s\n", error.what());
    return 1;
  }
}
