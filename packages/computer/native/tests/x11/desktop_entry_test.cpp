#include "x11/desktop_entry.h"

#include <gtest/gtest.h>

#include "testing/files.h"

namespace kestrum::computer::x11 {
namespace {

TEST(DesktopEntry, ReadsTheMainGroupOfApplications) {
  const struct {
    const char* name;
    const char* text;
    std::optional<std::string> wm_class;  // absent: no entry
    std::string entry_name, exec;
  } cases[] = {
      {"plain", "[Desktop Entry]\nType=Application\nName=Notes\nExec=notes %U\n", std::nullopt,
       "Notes", "notes %U"},
      {"class and escapes",
       "# c\n[Desktop Entry]\nName = Mail\nStartupWMClass=MailApp\nType=Application\n"
       "Exec=mail\\s--x\n",
       "MailApp", "Mail", "mail --x"},
      {"first value wins, other groups ignored",
       "[Desktop Entry]\nType=Application\nName=A\nName=B\n[Desktop Action x]\nExec=no\n",
       std::nullopt, "A", ""},
      {"no name: the file stem", "[Desktop Entry]\nType=Application\n", std::nullopt, "stem", ""},
      {"a link", "[Desktop Entry]\nType=Link\nName=L\n", std::nullopt, "", ""},
      {"hidden", "[Desktop Entry]\nType=Application\nHidden=true\n", std::nullopt, "", ""},
      {"no main group", "[Other]\nType=Application\n", std::nullopt, "", ""},
  };
  for (const auto& c : cases) {
    const auto entry = parse_desktop_entry("stem", c.text);
    if (c.entry_name.empty()) {
      EXPECT_FALSE(entry) << c.name;
      continue;
    }
    ASSERT_TRUE(entry) << c.name;
    EXPECT_EQ(entry->name, c.entry_name) << c.name;
    EXPECT_EQ(entry->startup_wm_class, c.wm_class) << c.name;
    EXPECT_EQ(entry->exec, c.exec) << c.name;
  }
}

TEST(DesktopEntry, ExecLinesBecomeArguments) {
  const struct {
    std::string exec;
    std::vector<std::string> arguments;
    std::string error;
  } cases[] = {
      {"xterm -class Kestrum", {"xterm", "-class", "Kestrum"}, ""},
      {"app %f --open=%u %%x %c", {"app", "--open=", "%x", "My App"}, ""},
      {"\"/opt/my app/run\" \"a \\\"b\\\"\" \"\"", {"/opt/my app/run", "a \"b\"", ""}, ""},
      {"app  %U  end", {"app", "end"}, ""},
      {"\"open", {}, "the Exec line of e has an unterminated quote"},
      {"%F", {}, "the desktop entry e has no command"},
  };
  for (const auto& c : cases) {
    const DesktopEntry entry{"e", "My App", std::nullopt, c.exec};
    const auto arguments = exec_arguments(entry);
    if (!c.error.empty()) {
      ASSERT_FALSE(arguments) << c.exec;
      EXPECT_EQ(arguments.error(), c.error);
      continue;
    }
    ASSERT_TRUE(arguments) << c.exec << ": " << arguments.error();
    EXPECT_EQ(*arguments, c.arguments) << c.exec;
  }
}

TEST(DesktopEntry, FoldersFollowTheXdgVariables) {
  using Folders = std::vector<std::string>;
  EXPECT_EQ(entry_folders(nullptr, "/home/p", nullptr),
            (Folders{"/home/p/.local/share/applications", "/usr/local/share/applications",
                     "/usr/share/applications"}));
  EXPECT_EQ(entry_folders("/d", "/home/p", "/a::/b"),
            (Folders{"/d/applications", "/a/applications", "/b/applications"}));
  EXPECT_EQ(entry_folders("", "", ""),
            (Folders{"/usr/local/share/applications", "/usr/share/applications"}));
}

TEST(DesktopEntry, TheFirstFolderAndTheWindowClassWin) {
  kestrum::testing::TempDir dir;
  const std::string first = dir.file("first"), second = dir.file("second");
  ::mkdir(first.c_str(), 0700);
  ::mkdir(second.c_str(), 0700);
  const std::string app = "[Desktop Entry]\nType=Application\n";
  kestrum::testing::write_file(first + "/b.desktop", app + "Name=First b\n");
  kestrum::testing::write_file(second + "/a.desktop", app + "Name=Second a\nStartupWMClass=b\n");
  kestrum::testing::write_file(second + "/c.desktop", app + "Name=Second c\n");
  kestrum::testing::write_file(second + "/c.txt", app + "Name=Not an entry\n");
  const auto entries = load_entries({first, second, dir.file("missing")});
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(match_entry(entries, "b")->name, "Second a");  // the class before the file name
  EXPECT_EQ(match_entry(entries, "c")->name, "Second c");
  EXPECT_EQ(match_entry(entries, "a")->name, "Second a");
  EXPECT_EQ(match_entry(entries, "C"), nullptr);
}

}  // namespace
}  // namespace kestrum::computer::x11
