// Desktop entries (the .desktop files of the XDG menu): how an application
// identifier (a WM_CLASS class) finds its name and how it is started.
// Pure text handling and file reading; no X.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace kestrum::computer::x11 {

struct DesktopEntry {
  std::string file_stem;  // the file name without ".desktop"
  std::string name;       // Name, or the file stem when it has none
  std::optional<std::string> startup_wm_class;
  std::string exec;  // the Exec value, string escapes undone
};

// The [Desktop Entry] group of a file's text; absent unless its Type is
// Application and it is not Hidden.
std::optional<DesktopEntry> parse_desktop_entry(std::string_view file_stem, std::string_view text);

// The folders to search, in order of precedence: $XDG_DATA_HOME (default
// $HOME/.local/share) and then each of $XDG_DATA_DIRS (default
// /usr/local/share:/usr/share), each with "/applications" appended. The
// arguments are the variables' values, null when unset.
std::vector<std::string> entry_folders(const char* data_home, const char* home,
                                       const char* data_dirs);

// Every entry of the folders, the folders in order and each folder's files
// by name. Unreadable folders and files are skipped.
std::vector<DesktopEntry> load_entries(const std::vector<std::string>& folders);

// The entries of the folders, read again only when a folder's modification
// time has changed since the last read. Not thread-safe: one per thread.
class EntryCache {
 public:
  explicit EntryCache(std::vector<std::string> folders) : folders_(std::move(folders)) {}
  const std::vector<DesktopEntry>& entries();

 private:
  std::vector<std::string> folders_;
  std::vector<std::int64_t> stamps_;  // nanoseconds; -1 for a missing folder
  std::vector<DesktopEntry> entries_;
  bool loaded_ = false;
};

// The first entry whose StartupWMClass, or else file stem, is `id`.
const DesktopEntry* match_entry(const std::vector<DesktopEntry>& entries, std::string_view id);

// The program and arguments of an Exec value: quoting undone, field codes
// for files and URLs dropped (no file is passed), %c the entry's name, %%
// a percent sign. Fails with a message for an unterminated quote or an
// empty command.
Result<std::vector<std::string>> exec_arguments(const DesktopEntry& entry);

}  // namespace kestrum::computer::x11
