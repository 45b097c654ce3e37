// kestrum-computer serve on a real X server: Xvfb, openbox, an xterm and
// the project's test client, driven over pipes. One session for the whole
// binary; each test starts its own server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <thread>

#include "support/server_process.h"
#include "testing/files.h"
#include "x11/x_session.h"

namespace kestrum::computer::testing {
namespace {

using Clock = std::chrono::steady_clock;

// What the session shows, bottom to top: Paint (blue, logs its input),
// Cover (red, over Paint's lower right corner), a window without a pid,
// and an xterm that writes what it is typed into a file.
struct Scene {
  kestrum::testing::TempDir dir;
  Window paint = None, cover = None, nopid = None, term = None;
  x11::Rect paint_rect, cover_rect, nopid_rect, term_rect;
  std::string paint_log() const { return dir.file("paint.log"); }
  std::string typed() const { return dir.file("typed.txt"); }
};

std::string client() { return bin_dir() + "/kestrum-x11-test-client"; }

void write_entries(const Scene& scene) {
  ::mkdir(scene.dir.file("share").c_str(), 0700);
  ::mkdir(scene.dir.file("share/applications").c_str(), 0700);
  kestrum::testing::write_file(scene.dir.file("share/applications/kestrum-paint.desktop"),
                               "[Desktop Entry]\nType=Application\nName=Paint\n"
                               "StartupWMClass=KestrumPaint\nExec=false\n");
  kestrum::testing::write_file(scene.dir.file("share/applications/KestrumNotes.desktop"),
                               "[Desktop Entry]\nType=Application\nName=Notes\nExec=" + client() +
                                   " KestrumNotes 40c040 200x100+900+500 %f " +
                                   scene.dir.file("notes.log") + "\n");
  ::setenv("XDG_DATA_DIRS", scene.dir.file("share").c_str(), 1);
  ::setenv("XDG_DATA_HOME", scene.dir.file("nothing").c_str(), 1);
}

class X11 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!missing_x_programs().empty()) return;
    session_ = new XSession();
    scene_ = new Scene();
    write_entries(*scene_);
    XSession& x = *session_;
    x.start({client(), "KestrumPaint", "2080ff", "400x300+50+80", scene_->paint_log()});
    scene_->paint = x.wait_for_window("KestrumPaint");
    x.start({client(), "KestrumCover", "ff0000", "200x150+300+200", scene_->dir.file("cover.log")});
    scene_->cover = x.wait_for_window("KestrumCover");
    x.start({client(), "KestrumNoPid", "808080", "100x100+900+80", scene_->dir.file("nopid.log"),
             "no-pid"});
    scene_->nopid = x.wait_for_window("KestrumNoPid");
    x.start({"/usr/bin/env", "LC_ALL=C.UTF-8", "/usr/bin/xterm", "-class", "KestrumTerm", "-bg",
             "#102030", "-geometry", "40x5+600+500", "-e", "/bin/sh", "-c",
             "exec cat > " + scene_->typed()});
    scene_->term = x.wait_for_window("KestrumTerm");
    scene_->paint_rect = x.rect(scene_->paint);
    scene_->cover_rect = x.rect(scene_->cover);
    scene_->nopid_rect = x.rect(scene_->nopid);
    scene_->term_rect = x.rect(scene_->term);
  }
  static void TearDownTestSuite() {
    delete scene_;
    delete session_;
  }
  void SetUp() override {
    const std::string missing = missing_x_programs();
    // CI installs the X server (scripts/setup): there a missing one is a
    // fault, not a reason to test less.
    if (!missing.empty() && std::getenv("CI") && std::string(std::getenv("CI")) == "true") {
      FAIL() << missing;
    }
    if (!missing.empty()) GTEST_SKIP() << missing << "; the X11 tests need it";
    ASSERT_NE(session_, nullptr);
    x_ = session_;
    s_ = scene_;
    server_ = std::make_unique<ServerProcess>(
        ServerOptions{{"serve", "--own-pid", std::to_string(::getpid())},
                      std::nullopt,
                      -1,
                      false,
                      false,
                      x_->name()});
  }
  void TearDown() override {
    if (!server_) return;
    server_->close_input();
    EXPECT_EQ(server_->wait().status, 0);
  }

  // Sends a request with the next id; the answer without its id member.
  std::string ask(const std::string& request) {
    const std::string id = std::to_string(++id_);
    server_->send("{\"id\":" + id + "," + request + "}\n");
    std::string answer = server_->read_json();
    const std::string member = "\"id\":" + id;
    const auto at = answer.find(member);
    if (at == std::string::npos) return "no id in " + answer;
    answer.erase(at, member.size() + (answer[at + member.size()] == ',' ? 1 : 0));
    if (answer.ends_with(",}")) answer.erase(answer.size() - 2, 1);
    return answer;
  }
  Frame ask_frame(const std::string& request) {
    server_->send("{\"id\":" + std::to_string(++id_) + "," + request + "}\n");
    return *server_->read_frame();
  }

  // The window manager focuses a clicked window a moment after the click.
  void wait_for_front(const std::string& id) {
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (ask(R"("op":"apps")").find("\"front\":\"" + id + "\"") == std::string::npos) {
      ASSERT_LT(Clock::now(), deadline) << id << " did not come to the front";
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  static std::string at(int x, int y) {
    return "\"x\":" + std::to_string(x) + ",\"y\":" + std::to_string(y);
  }
  // The lines added to a log once `count` lines are there.
  static std::string wait_for_lines(const std::string& path, std::size_t from, std::size_t count) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    for (;;) {
      const std::string text = read_file(path);
      std::size_t start = 0, lines = 0;
      for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') continue;
        if (++lines == from) start = i + 1;
      }
      if (lines >= from + count || Clock::now() > deadline) return text.substr(from ? start : 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  static std::size_t line_count(const std::string& path) {
    const std::string text = read_file(path);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  }

  static XSession* session_;
  static Scene* scene_;
  XSession* x_ = nullptr;
  Scene* s_ = nullptr;
  std::unique_ptr<ServerProcess> server_;
  int id_ = 0;
};

XSession* X11::session_ = nullptr;
Scene* X11::scene_ = nullptr;

const std::string kOk = R"({"ok":true})";

TEST_F(X11, HelloReportsTheDisplayAndBothPermissions) {
  EXPECT_EQ(ask(R"("op":"hello")"),
            R"({"ok":true,"permissions":{"capture":true,"input":true},"platform":"macos",)"
            R"("screen":{"height":800.0,"width":1280.0,"x":0.0,"y":0.0}})");
}

// With a primary RandR output the display is that output's; the answers
// stay those of the root window, which the one output covers.
TEST_F(X11, ThePrimaryOutputIsTheDisplay) {
  Display* d = x_->display();
  const Window root = DefaultRootWindow(d);
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(d, root);
  ASSERT_TRUE(resources && resources->noutput > 0);
  XRRSetOutputPrimary(d, root, resources->outputs[0]);
  XRRFreeScreenResources(resources);
  XSync(d, False);
  EXPECT_EQ(ask(R"("op":"hello")"),
            R"({"ok":true,"permissions":{"capture":true,"input":true},"platform":"macos",)"
            R"("screen":{"height":800.0,"width":1280.0,"x":0.0,"y":0.0}})");
  ASSERT_EQ(ask(R"("op":"grant","apps":["KestrumPaint"])"), kOk);
  const Frame capture = ask_frame(R"("op":"capture","maxSide":0)");
  EXPECT_EQ(capture.payload.size(), 1280u * 800 * 4) << capture.json;
  XRRSetOutputPrimary(d, root, None);
  XSync(d, False);
}

TEST_F(X11, AppsAreProcessesNamedByTheirDesktopEntries) {
  const std::string apps = ask(R"("op":"apps")");
  EXPECT_TRUE(apps.starts_with(
      R"({"apps":[{"bundleName":"kestrum-paint","id":"KestrumPaint","name":"Paint"},)"
      R"({"id":"KestrumCover","name":"KestrumCover"},{"id":"KestrumTerm","name":"KestrumTerm"})"))
      << apps;
  EXPECT_EQ(apps.find("KestrumNoPid"), std::string::npos) << apps;
}

TEST_F(X11, PointerChecksFollowTheWindowsOnScreen) {
  x_->raise(s_->cover);
  ASSERT_EQ(ask(R"("op":"grant","apps":["KestrumPaint"])"), kOk);
  const x11::Rect& p = s_->paint_rect;
  const x11::Rect& c = s_->cover_rect;
  const struct {
    std::string request, answer;
  } cases[] = {
      // Cover lies over Paint there.
      {R"("op":"move",)" + at(c.x + 5, c.y + 5),
       R"({"ok":false,"refused":{"app":"KestrumCover","kind":"outside","name":"KestrumCover"}})"},
      {R"("op":"move",)" + at(s_->nopid_rect.x + 5, s_->nopid_rect.y + 5),
       R"({"ok":false,"refused":{"app":"","kind":"outside","name":"a system window"}})"},
      {R"("op":"move",)" + at(1270, 790), R"({"ok":false,"refused":{"kind":"desktop"}})"},
      {R"("op":"move",)" + at(1280, 10), R"({"ok":false,"refused":{"kind":"off-screen"}})"},
      {R"("op":"move",)" + at(p.x + 5, p.y + 5), kOk},
  };
  for (const auto& one : cases) EXPECT_EQ(ask(one.request), one.answer) << one.request;
}

TEST_F(X11, ClicksDragsAndScrollsLandWhereAsked) {
  ASSERT_EQ(ask(R"("op":"grant","apps":["KestrumPaint"])"), kOk);
  const x11::Rect& p = s_->paint_rect;
  const auto point = [&](int x, int y) {
    return "[" + std::to_string(p.x + x) + "," + std::to_string(p.y + y) + "]";
  };
  // Each request's events arrive before the next is sent, as a person's
  // would: the window manager holds a click back while it focuses.
  const struct {
    std::string request, lines;
  } cases[] = {
      {R"("op":"click",)" + at(p.x + 10, p.y + 20), "press 1 10 20\nrelease 1 10 20\n"},
      {R"("op":"click","button":"right",)" + at(p.x + 11, p.y + 21),
       "press 3 11 21\nrelease 3 11 21\n"},
      {R"("op":"drag","path":[)" + point(30, 30) + "," + point(60, 40) + "]",
       "press 1 30 30\ndrag 60 40\nrelease 1 60 40\n"},
      {R"("op":"scroll","dx":-1,"dy":2,)" + at(p.x + 5, p.y + 6),
       "press 5 5 6\nrelease 5 5 6\npress 5 5 6\nrelease 5 5 6\npress 6 5 6\nrelease 6 5 6\n"},
  };
  for (const auto& c : cases) {
    const std::size_t before = line_count(s_->paint_log());
    ASSERT_EQ(ask(c.request), kOk) << c.request;
    const auto count = static_cast<std::size_t>(std::count(c.lines.begin(), c.lines.end(), '\n'));
    EXPECT_EQ(wait_for_lines(s_->paint_log(), before, count), c.lines) << c.request;
  }
}

TEST_F(X11, KeysArriveWithTheirModifiers) {
  ASSERT_EQ(ask(R"("op":"grant","apps":["KestrumPaint"])"), kOk);
  // A click brings Paint to the front, where keys go.
  ASSERT_EQ(ask(R"("op":"click",)" + at(s_->paint_rect.x + 3, s_->paint_rect.y + 3)), kOk);
  wait_for_front("KestrumPaint");
  const std::size_t before = line_count(s_->paint_log());
  for (const char* keys : {"ctrl+shift+a", "cmd+t", "F5", "return", "alt+left"}) {
    ASSERT_EQ(ask(std::string(R"("op":"key","keys":")") + keys + "\""), kOk) << keys;
  }
  // Each modifier is a key press of its own before the key. The window
  // manager replays the focusing click when it gets to it, which may be
  // after the keys: only the key lines count.
  std::string keys;
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (std::count(keys.begin(), keys.end(), '\n') < 9 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::istringstream lines(wait_for_lines(s_->paint_log(), before, 0));
    keys.clear();
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("key ")) keys += line + "\n";
    }
  }
  EXPECT_EQ(keys,
            "key Control_L -\nkey Shift_L control\nkey A shift+control\n"
            "key Super_L -\nkey t mod4\nkey F5 -\nkey Return -\nkey Alt_L -\nkey Left mod1\n");
}

TEST_F(X11, TypedTextReachesAnXterm) {
  ASSERT_EQ(ask(R"("op":"grant","apps":["KestrumTerm"])"), kOk);
  ASSERT_EQ(ask(R"("op":"click",)" + at(s_->term_rect.x + 5, s_->term_rect.y + 5)), kOk);
  wait_for_front("KestrumTerm");
  // ASCII, Latin-1 the keymap lacks, and characters only a borrowed keycode can type.
  const std::string text = "Hello, wörld! €5 ≠ ∞\n";
  ASSERT_EQ(ask(R"("op":"type","text":"Hello, wörld! €5 ≠ ∞\n")"), kOk);
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (read_file(s_->typed()) != text && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(read_file(s_->typed()), text);
}

std::string pixel(const Frame& frame, int x, int y) {
  const std::size_t at = (static_cast<std::size_t>(y) * 1280 + static_cast<std::size_t>(x)) * 4;
  char hex[16];
  std::snprintf(hex, sizeof hex, "%02x%02x%02x", static_cast<unsigned char>(frame.payload[at + 2]),
                static_cast<unsigned char>(frame.payload[at + 1]),
                static_cast<unsigned char>(frame.payload[at]));
  return hex;
}

TEST_F(X11, CaptureShowsOnlyGrantedWindowsFromTheirOwnContents) {
  x_->raise(s_->cover);
  const x11::Rect& p = s_->paint_rect;
  const x11::Rect& c = s_->cover_rect;
  ASSERT_EQ(ask(R"("op":"grant","apps":["KestrumPaint"])"), kOk);
  const Frame paint = ask_frame(R"("op":"capture","maxSide":0)");
  ASSERT_EQ(paint.payload.size(), 1280u * 800 * 4) << paint.json;
  ASSERT_EQ(ask(R"("op":"grant","apps":["KestrumPaint","KestrumCover"])"), kOk);
  const Frame both = ask_frame(R"("op":"capture","maxSide":640)");
  ASSERT_EQ(ask(R"("op":"grant","apps":[])"), kOk);
  const Frame none = ask_frame(R"("op":"capture","maxSide":0)");
  const struct {
    const char* where;
    int x, y;
    std::string only_paint;
  } points[] = {
      {"Paint in the open", p.x + 5, p.y + 5, "2080ff"},
      {"Paint under Cover", c.x + 5, c.y + 5, "2080ff"},
      {"Cover beside Paint", c.x + c.width - 5, c.y + c.height - 5, "000000"},
      {"Paint's title bar", p.x + 5, p.y - 5, "000000"},
      {"the root", 1270, 790, "000000"},
  };
  for (const auto& point : points) {
    EXPECT_EQ(pixel(paint, point.x, point.y), point.only_paint) << point.where;
    EXPECT_EQ(pixel(none, point.x, point.y), "000000") << point.where;
  }
  EXPECT_TRUE(both.json.find(R"("height":400,)") != std::string::npos) << both.json;
  const std::size_t at = ((static_cast<std::size_t>(c.y) + 5) / 2 * 640 + (c.x + 5) / 2) * 4;
  EXPECT_EQ(static_cast<unsigned char>(both.payload[at + 2]), 0xff) << "Cover over Paint";
}

TEST_F(X11, ThePersonTakesOverAndTheServersOwnEventsNeverDo) {
  ASSERT_EQ(ask(R"("op":"grant","apps":["KestrumPaint"])"), kOk);
  const x11::Rect& p = s_->paint_rect;
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(ask(R"("op":"click",)" + at(p.x + 10 + i, p.y + 10 + i)), kOk);
  }
  ASSERT_EQ(ask(R"("op":"scroll","dx":0,"dy":3,)" + at(p.x + 50, p.y + 50)), kOk);
  wait_for_front("KestrumPaint");
  ASSERT_EQ(ask(R"("op":"key","keys":"ctrl+shift+x")"), kOk);
  // Time for the tap to see them all; no takeover announcement may come first.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(ask(R"("op":"move",)" + at(p.x + 3, p.y + 3)), kOk);

  // Another program's input: a motion of 4 points is not yet enough, 3 more are.
  Display* d = x_->display();
  XTestFakeRelativeMotionEvent(d, 2, 2, CurrentTime);
  XSync(d, False);
  // A request that moves nothing: the tap measures another program's
  // motion by where the pointer went, which a move of the server's at the
  // same moment would blur.
  ASSERT_EQ(ask(R"("op":"hello")").substr(0, 11), R"({"ok":true,)");
  XTestFakeRelativeMotionEvent(d, 3, 0, CurrentTime);
  XSync(d, False);
  EXPECT_EQ(server_->read_json(), R"({"event":"owner","owner":"person"})");
  EXPECT_EQ(ask(R"("op":"move",)" + at(p.x + 3, p.y + 3)),
            R"({"ok":false,"refused":{"kind":"person"}})");

  // A key press takes over at once.
  ASSERT_EQ(ask(R"("op":"owner","owner":"agent")"), kOk);
  const KeyCode shift = XKeysymToKeycode(d, XK_Shift_L);
  XTestFakeKeyEvent(d, shift, True, CurrentTime);
  XTestFakeKeyEvent(d, shift, False, CurrentTime);
  XSync(d, False);
  EXPECT_EQ(server_->read_json(), R"({"event":"owner","owner":"person"})");
}

TEST_F(X11, AKeyboardGrabIsSecureInput) {
  ASSERT_EQ(ask(R"("op":"grant","apps":["KestrumPaint"])"), kOk);
  ASSERT_EQ(ask(R"("op":"click",)" + at(s_->paint_rect.x + 3, s_->paint_rect.y + 3)), kOk);
  wait_for_front("KestrumPaint");
  Display* d = x_->display();
  ASSERT_EQ(
      XGrabKeyboard(d, DefaultRootWindow(d), False, GrabModeAsync, GrabModeAsync, CurrentTime),
      GrabSuccess);
  XSync(d, False);
  EXPECT_EQ(ask(R"("op":"type","text":"x")"), R"({"ok":false,"refused":{"kind":"secure-input"}})");
  XUngrabKeyboard(d, CurrentTime);
  XSync(d, False);
  EXPECT_EQ(ask(R"("op":"key","keys":"b")"), kOk);
}

TEST_F(X11, OpenStartsTheDesktopEntry) {
  ASSERT_EQ(ask(R"("op":"grant","apps":["KestrumNotes","NoSuchApp"])"), kOk);
  EXPECT_EQ(ask(R"("op":"open","app":"NoSuchApp")"),
            R"({"error":"NoSuchApp is not installed","ok":false})");
  EXPECT_EQ(ask(R"("op":"open","app":"KestrumNotes")"), kOk);
  const Window notes = x_->wait_for_window("KestrumNotes");
  EXPECT_NE(notes, static_cast<Window>(None));
  const std::string apps = ask(R"("op":"apps")");
  EXPECT_NE(apps.find(R"({"bundleName":"KestrumNotes","id":"KestrumNotes","name":"Notes"})"),
            std::string::npos)
      << apps;
}

}  // namespace
}  // namespace kestrum::computer::testing
