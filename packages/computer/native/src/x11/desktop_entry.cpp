#include "x11/desktop_entry.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrum::computer::x11 {
namespace {

constexpr std::string_view kGroup = "[Desktop Entry]";
constexpr std::string_view kSuffix = ".desktop";

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// The escapes of a "string" value: \s \n \t \r \\.
std::string unescape_value(std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    switch (value[++i]) {
      case 's':
        out += ' ';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      default:
        out += value[i];
        break;
    }
  }
  return out;
}

struct Group {
  std::optional<std::string> type, name, wm_class, exec, hidden;
};

void take_key(Group& group, std::string_view key, std::string value) {
  const std::pair<std::string_view, std::optional<std::string> Group::*> keys[] = {
      {"Type", &Group::type}, {"Name", &Group::name},     {"StartupWMClass", &Group::wm_class},
      {"Exec", &Group::exec}, {"Hidden", &Group::hidden},
  };
  for (const auto& [name, member] : keys) {
    // The first occurrence counts.
    if (key == name && !(group.*member)) group.*member = std::move(value);
  }
}

Group read_group(std::string_view text) {
  Group group;
  bool inside = false;
  std::istringstream lines{std::string(text)};
  for (std::string raw; std::getline(lines, raw);) {
    const std::string_view line = trim(raw);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inside = line == kGroup;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inside || equals == std::string_view::npos) continue;
    take_key(group, trim(line.substr(0, equals)), unescape_value(trim(line.substr(equals + 1))));
  }
  return group;
}

}  // namespace

std::optional<DesktopEntry> parse_desktop_entry(std::string_view file_stem, std::string_view text) {
  Group group = read_group(text);
  if (group.type != "Application" || group.hidden == "true") return std::nullopt;
  DesktopEntry entry;
  entry.file_stem = file_stem;
  entry.name = group.name.value_or(std::string(file_stem));
  entry.startup_wm_class = std::move(group.wm_class);
  entry.exec = group.exec.value_or("");
  return entry;
}

std::vector<std::string> entry_folders(const char* data_home, const char* home,
                                       const char* data_dirs) {
  std::vector<std::string> folders;
  if (data_home && *data_home) {
    folders.push_back(std::string(data_home) + "/applications");
  } else if (home && *home) {
    folders.push_back(std::string(home) + "/.local/share/applications");
  }
  const std::string dirs = data_dirs && *data_dirs ? data_dirs : "/usr/local/share:/usr/share";
  std::istringstream parts(dirs);
  for (std::string dir; std::getline(parts, dir, ':');) {
    if (!dir.empty()) folders.push_back(dir + "/applications");
  }
  return folders;
}

std::vector<DesktopEntry> load_entries(const std::vector<std::string>& folders) {
  std::vector<DesktopEntry> entries;
  for (const std::string& folder : folders) {
    std::error_code error;
    std::vector<std::filesystem::path> files;
    for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
      if (item.path().extension() == kSuffix) files.push_back(item.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      std::ifstream input(file);
      std::ostringstream text;
      text << input.rdbuf();
      if (auto entry = parse_desktop_entry(file.stem().string(), text.str())) {
        entries.push_back(std::move(*entry));
      }
    }
  }
  return entries;
}

const std::vector<DesktopEntry>& EntryCache::entries() {
  std::vector<std::int64_t> stamps;
  for (const std::string& folder : folders_) {
    std::error_code error;
    const auto time = std::filesystem::last_write_time(folder, error);
    stamps.push_back(error ? -1 : static_cast<std::int64_t>(time.time_since_epoch().count()));
  }
  if (!loaded_ || stamps != stamps_) {
    entries_ = load_entries(folders_);
    stamps_ = std::move(stamps);
    loaded_ = true;
  }
  return entries_;
}

const DesktopEntry* match_entry(const std::vector<DesktopEntry>& entries, std::string_view id) {
  for (const DesktopEntry& entry : entries) {
    if (entry.startup_wm_class == id) return &entry;
  }
  for (const DesktopEntry& entry : entries) {
    if (entry.file_stem == id) return &entry;
  }
  return nullptr;
}

namespace {

// Appends what a field code stands for; codes for files, URLs and icons stand
// for nothing, since no file is passed.
void expand_code(char code, const DesktopEntry& entry, std::string& argument) {
  switch (code) {
    case '%':
      argument += '%';
      break;
    case 'c':
      argument += entry.name;
      break;
    default:
      break;  // %f %F %u %U %i %k and the deprecated codes: nothing
  }
}

}  // namespace

Result<std::vector<std::string>> exec_arguments(const DesktopEntry& entry) {
  std::vector<std::string> arguments;
  std::string argument;
  bool quoted = false;
  bool started = false;  // an argument is open, even an empty quoted one
  const std::string& exec = entry.exec;
  for (std::size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (quoted && c == '\\' && i + 1 < exec.size()) {
      argument += exec[++i];
    } else if (c == '"') {
      quoted = !quoted;
      started = true;
    } else if (c == '%' && i + 1 < exec.size()) {
      expand_code(exec[++i], entry, argument);
      started = started || !argument.empty();
    } else if (c == ' ' && !quoted) {
      if (started || !argument.empty()) arguments.push_back(std::move(argument));
      argument.clear();
      started = false;
    } else {
      argument += c;
      started = true;
    }
  }
  if (quoted) return fail("the Exec line of " + entry.file_stem + " has an unterminated quote");
  if (started || !argument.empty()) arguments.push_back(std::move(argument));
  if (arguments.empty()) return fail("the desktop entry " + entry.file_stem + " has no command");
  return arguments;
}

}  // namespace kestrum::computer::x11
