// Paths as the policy sees them: byte strings split at "/" into components.
// Empty components (from "//" or a trailing "/") are not components, so
// "/a//b/" and "/a/b" are the same path and "/" has no components at all.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "base/utf8.h"

namespace kestrum::sandbox {

// Path order: component by component, each compared as unsigned bytes; a
// path whose components are a prefix of the other's sorts first, so
// "/a/b/c" < "/a/b-c". Negative, zero or positive like memcmp.
int compare_paths(std::string_view a, std::string_view b);

inline bool path_less(std::string_view a, std::string_view b) { return compare_paths(a, b) < 0; }

// True when the component sequences are equal.
inline bool same_path(std::string_view a, std::string_view b) { return compare_paths(a, b) == 0; }

// `path` lies inside `folder`: folder's components are a prefix of path's.
// A path lies inside itself.
bool inside(std::string_view path, std::string_view folder);

// Inside and not the same path.
bool strictly_inside(std::string_view path, std::string_view folder);

// Sorts in path order and keeps the first of every run of equal paths.
void sort_unique_paths(std::vector<std::string>& paths);

// The system reads text as a C string, up to its first NUL: text holding
// one would silently stand for the shorter text before it ("/\0zzz" for
// the root). Such text is never handed to the system.
inline bool holds_nul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

// Stands in for the system's error text when a path holds a NUL.
inline constexpr std::string_view kNulInPath = "file name contained an unexpected NUL byte";

// The two functions below are the only way a policy path reaches the file
// system, and both refuse a path that holds a NUL.

// The system's resolution of `path` (every link, "." and ".." resolved); the
// path must exist. Fails with the system's error text, or kNulInPath.
Result<std::string> canonicalize(std::string_view path);

// The entry's own canonical path; else, for an entry that does not exist
// yet, its canonical parent folder joined with its last name. Empty when
// the path holds a NUL, or the last component is not a plain name (empty,
// "." or "..") or the parent does not canonicalize.
std::optional<std::string> canonical_or_parent_join(std::string_view path);

// A path (or any bytes from the system) as UTF-8 text for messages, the
// profile and name matching: each maximal ill-formed subpart becomes U+FFFD.
inline std::string display_text(std::string_view bytes) { return utf8_lossy(bytes); }

}  // namespace kestrum::sandbox
