// "apps" and "open" through the built program and the simulated desktop;
// the open program is a small shell script each test writes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/server_process.h"

namespace kestrum::computer::testing {
namespace {

const std::vector<std::string> kServeArgs = {"serve", "--own-pid", "500", "--own-app",
                                             "com.kestrum.app"};

// In system order; only Mail (twice) and Notes are listed.
std::string apps_scene(const std::string& front) {
  return R"({"apps": [
      {"pid": 1, "id": "com.example.Mail", "name": "Mail", "bundle": "Mail.app"},
      {"pid": 2, "id": "com.example.Helper", "name": "Helper", "policy": 1},
      {"pid": 3, "id": "com.example.Prohibited", "name": "Prohibited", "policy": 2},
      {"pid": 4, "name": "No identifier"},
      {"pid": 5, "id": "", "name": "Empty identifier"},
      {"pid": 500, "id": "com.example.Server", "name": "Own process"},
      {"pid": 6, "id": "com.kestrum.app", "name": "Kestrum"},
      {"pid": 7, "id": "com.example.Notes", "bundle": ".app"},
      {"pid": 8, "id": "com.example.Mail", "name": "Mail", "bundle": "Mail.app"}],
    "front": )" +
         front + "}";
}

TEST(Apps, ListsRegularApplicationsAndNamesTheFront) {
  TempDir dir;
  const std::string scene = dir.file("scene.json");
  replace_file(scene, apps_scene("null"));
  ServerProcess process({kServeArgs, scene});
  const std::string listed =
      R"({"apps":[{"bundleName":"Mail","id":"com.example.Mail","name":"Mail"},)"
      R"({"id":"com.example.Notes","name":"com.example.Notes"},)"
      R"({"bundleName":"Mail","id":"com.example.Mail","name":"Mail"}],"front":)";
  const struct {
    std::string front;       // pid in the scene
    std::string want_front;  // in the answer
  } steps[] = {
      {"null", "null"},
      {"1", R"("com.example.Mail")"},
      {"7", R"("com.example.Notes")"},
      {"2", R"("com.example.Helper")"},
      {"500", R"("com.example.Server")"},
      {"6", R"("com.kestrum.app")"},
      {"4", R"("")"},
      {"99", "null"},
  };
  std::uint64_t id = 0;
  for (const auto& step : steps) {
    replace_file(scene, apps_scene(step.front));
    process.send("{\"id\":" + std::to_string(++id) + ",\"op\":\"apps\"}\n");
    EXPECT_EQ(process.read_json(),
              listed + step.want_front + ",\"id\":" + std::to_string(id) + ",\"ok\":true}")
        << "front " << step.front;
  }
  // Neither ownership nor grants matter to the list.
  replace_file(scene, apps_scene("2"));
  process.send(R"({"id":20,"op":"owner","owner":"person"})"
               "\n{\"id\":21,\"op\":\"apps\"}\n");
  EXPECT_EQ(process.read_json(), R"({"id":20,"ok":true})");
  EXPECT_EQ(process.read_json(), listed + R"("com.example.Helper","id":21,"ok":true})");
  process.close_input();
  EXPECT_EQ(process.wait().status, 0);
}

void write_script(const std::string& path, const std::string& body, mode_t mode = 0755) {
  replace_file(path, "#!/bin/sh\n" + body + "\n");
  if (::chmod(path.c_str(), mode) != 0) throw std::runtime_error("chmod " + path);
}

std::string open_scene(const std::string& program) {
  return R"({"apps": [{"pid": 1, "id": "com.example.Mail", "name": "Mail"}], "open": ")" + program +
         "\"}";
}

TEST(Open, RunsTheOpenProgramAndReadsHowItEnded) {
  TempDir dir;
  const std::string scene = dir.file("scene.json");
  const std::string log = dir.file("log");
  // The arguments and the server's environment reach the program.
  write_script(dir.file("ok"), "echo \"$# $1 $2 ${KESTRUM_DESKTOP_SCENE##*/}\" >> " + log);
  write_script(dir.file("fails"), "exit 3");
  write_script(dir.file("fails-high"), "exit 255");
  write_script(dir.file("killed"), "kill -KILL $$");
  // The server ignores the pipe signal; the program must not inherit that.
  write_script(dir.file("pipe"), "kill -PIPE $$\nexit 0");
  write_script(dir.file("not-executable"), "exit 0", 0644);
  // Must neither write into the frames nor read the next request.
  write_script(dir.file("chatty"),
               "echo printed\nif read line; then echo \"took $line\" >> " + log + "; fi\nexit 0");
  replace_file(scene, open_scene(dir.file("ok")));
  ServerProcess process({kServeArgs, scene});
  process.send(R"({"id":0,"op":"grant","apps":["com.example.Mail"]})"
               "\n");
  ASSERT_EQ(process.read_json(), R"({"id":0,"ok":true})");

  const std::string not_installed = R"("error":"com.example.Mail is not installed")";
  const struct {
    std::string program;
    std::string want;
  } steps[] = {
      {"ok", R"("ok":true)"},
      {"fails", not_installed},
      {"fails-high", not_installed},
      {"killed", not_installed},
      {"pipe", not_installed},
      {"chatty", R"("ok":true)"},
      {"missing",
       R"x("error":"could not open com.example.Mail: No such file or directory (os error 2)")x"},
      {"not-executable",
       R"x("error":"could not open com.example.Mail: Permission denied (os error 13)")x"},
  };
  std::uint64_t id = 0;
  for (const auto& step : steps) {
    replace_file(scene, open_scene(dir.file(step.program)));
    const std::string id_member = "\"id\":" + std::to_string(++id);
    process.send("{" + id_member + R"(,"op":"open","app":"com.example.Mail"})" + "\n");
    const std::string want = step.want.starts_with("\"error\"")
                                 ? "{" + step.want + "," + id_member + ",\"ok\":false}"
                                 : "{" + id_member + "," + step.want + "}";
    EXPECT_EQ(process.read_json(), want) << step.program;
  }
  process.close_input();
  const Exit exit = process.wait();
  EXPECT_EQ(exit.status, 0);
  EXPECT_EQ(exit.err, "printed\n");
  EXPECT_EQ(read_file(log), "2 -b com.example.Mail scene.json\n");
}

TEST(Open, RefusalsRunNothing) {
  TempDir dir;
  const std::string scene = dir.file("scene.json");
  const std::string log = dir.file("log");
  write_script(dir.file("ok"), "echo \"$2\" >> " + log);
  replace_file(scene, open_scene(dir.file("ok")));
  ServerProcess process({kServeArgs, scene});
  const struct {
    std::string request;
    std::string want;
  } steps[] = {
      {R"("op":"open","app":"com.example.Mail")",
       R"("ok":false,"refused":{"app":"com.example.Mail","kind":"not-granted"})"},
      {R"("op":"grant","apps":["com.example.Mail"])", R"("ok":true)"},
      {R"("op":"open","app":"com.example.Notes")",
       R"("ok":false,"refused":{"app":"com.example.Notes","kind":"not-granted"})"},
      {R"("by":"person","op":"open","app":"com.example.Mail")", R"("ok":true)"},
      {R"("op":"owner","owner":"person")", R"("ok":true)"},
      {R"("op":"open","app":"com.example.Mail")", R"("ok":false,"refused":{"kind":"person"})"},
      {R"("by":"person","op":"open","app":"com.example.Mail")",
       R"("ok":false,"refused":{"kind":"person"})"},
  };
  std::uint64_t id = 0;
  for (const auto& step : steps) {
    const std::string id_member = "\"id\":" + std::to_string(++id);
    process.send("{" + id_member + "," + step.request + "}\n");
    EXPECT_EQ(process.read_json(), "{" + id_member + "," + step.want + "}") << step.request;
  }
  process.close_input();
  EXPECT_EQ(process.wait().status, 0);
  // Only the one allowed request ran the program.
  EXPECT_EQ(read_file(log), "com.example.Mail\n");
}

}  // namespace
}  // namespace kestrum::computer::testing
