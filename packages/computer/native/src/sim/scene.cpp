#include "sim/scene.h"

#include <fstream>
#include <limits>
#include <sstream>

#include "desktop/program.h"
#include "json/decode.h"
#include "json/document.h"

namespace kestrum::computer::sim {
namespace {

using json::Checked;
using json::Decoded;
using json::Decoder;
using json::FieldRule;
using json::Kind;
using json::Member;
using json::Node;
using json::Presence;
using json::RecordRule;
using json::store;

constexpr Presence kOptional = Presence::kDefault;

Decoded<std::int64_t> i64(Decoder& d, const Node& n) {
  using Limits = std::numeric_limits<std::int64_t>;
  return d.signed_integer(n, Limits::min(), Limits::max(), "i64");
}

// null stands for "none" wherever a scene member is optional.
template <class T, class Read>
Checked nullable(const Node& n, std::optional<T>& out, Read read) {
  if (n.kind == Kind::kNull) {
    out.reset();
    return {};
  }
  return store(read(), out);
}

Checked read_text(Decoder& d, const Node& n, std::optional<std::string>& out) {
  return nullable(n, out, [&] { return d.string(n); });
}

Checked read_color(Decoder& d, const Node& n, std::array<std::uint8_t, 3>& out) {
  std::size_t count = 0;
  auto read = d.sequence(n, [&](const Node& item) -> Checked {
    if (count >= out.size()) return fail_with(d.error(item.start, "a colour has 3 bytes"));
    return store(d.u8(item), out[count++]);
  });
  if (read && count != out.size()) return fail_with(d.error(n.end, "a colour has 3 bytes"));
  return read;
}

struct Permissions {
  bool capture = true;
  bool input = true;
};
constexpr FieldRule<Permissions> kPermissionFields[] = {
    {"capture", kOptional,
     [](Decoder& d, const Node& n, Permissions& o) { return store(d.boolean(n), o.capture); }},
    {"input", kOptional,
     [](Decoder& d, const Node& n, Permissions& o) { return store(d.boolean(n), o.input); }},
};
constexpr RecordRule<Permissions> kPermissions{"struct Permissions", kPermissionFields};

constexpr FieldRule<SceneDisplay> kDisplayFields[] = {
    {"id", kOptional,
     [](Decoder& d, const Node& n, SceneDisplay& o) { return store(d.u32(n), o.id); }},
    {"x", kOptional,
     [](Decoder& d, const Node& n, SceneDisplay& o) { return store(d.f64(n), o.x); }},
    {"y", kOptional,
     [](Decoder& d, const Node& n, SceneDisplay& o) { return store(d.f64(n), o.y); }},
    {"width", kOptional,
     [](Decoder& d, const Node& n, SceneDisplay& o) { return store(d.f64(n), o.width); }},
    {"height", kOptional,
     [](Decoder& d, const Node& n, SceneDisplay& o) { return store(d.f64(n), o.height); }},
    {"pixelWidth", kOptional,
     [](Decoder& d, const Node& n, SceneDisplay& o) {
       return nullable(n, o.pixel_width, [&] { return d.u64(n); });
     }},
};
constexpr RecordRule<SceneDisplay> kDisplay{"struct Display", kDisplayFields};

constexpr FieldRule<SceneApp> kAppFields[] = {
    {"pid", Presence::kRequired,
     [](Decoder& d, const Node& n, SceneApp& o) { return store(i64(d, n), o.pid); }},
    {"id", kOptional, [](Decoder& d, const Node& n, SceneApp& o) { return read_text(d, n, o.id); }},
    {"name", kOptional,
     [](Decoder& d, const Node& n, SceneApp& o) { return read_text(d, n, o.name); }},
    {"bundle", kOptional,
     [](Decoder& d, const Node& n, SceneApp& o) { return read_text(d, n, o.bundle); }},
    {"policy", kOptional,
     [](Decoder& d, const Node& n, SceneApp& o) { return store(i64(d, n), o.policy); }},
};
constexpr RecordRule<SceneApp> kApp{"struct App", kAppFields};

constexpr FieldRule<SceneWindow> kWindowFields[] = {
    {"pid", Presence::kRequired,
     [](Decoder& d, const Node& n, SceneWindow& o) { return store(i64(d, n), o.pid); }},
    {"x", Presence::kRequired,
     [](Decoder& d, const Node& n, SceneWindow& o) { return store(d.f64(n), o.x); }},
    {"y", Presence::kRequired,
     [](Decoder& d, const Node& n, SceneWindow& o) { return store(d.f64(n), o.y); }},
    {"width", Presence::kRequired,
     [](Decoder& d, const Node& n, SceneWindow& o) { return store(d.f64(n), o.width); }},
    {"height", Presence::kRequired,
     [](Decoder& d, const Node& n, SceneWindow& o) { return store(d.f64(n), o.height); }},
    {"color", kOptional,
     [](Decoder& d, const Node& n, SceneWindow& o) { return read_color(d, n, o.color); }},
};
constexpr RecordRule<SceneWindow> kWindow{"struct Window", kWindowFields};

Checked read_displays(Decoder& d, const Node& n, std::optional<std::vector<std::uint32_t>>& out) {
  std::vector<std::uint32_t> ids;
  auto read = d.sequence(n, [&](const Node& item) -> Checked {
    std::uint32_t id = 0;
    if (auto one = store(d.u32(item), id); !one) return one;
    ids.push_back(id);
    return {};
  });
  if (read) out = std::move(ids);
  return read;
}

constexpr FieldRule<SceneCapture> kCaptureFields[] = {
    {"content", kOptional,
     [](Decoder& d, const Node& n, SceneCapture& o) { return store(d.string(n), o.content); }},
    {"displays", kOptional,
     [](Decoder& d, const Node& n, SceneCapture& o) { return read_displays(d, n, o.displays); }},
    {"image", kOptional,
     [](Decoder& d, const Node& n, SceneCapture& o) { return store(d.string(n), o.image); }},
    {"bitsPerPixel", kOptional,
     [](Decoder& d, const Node& n, SceneCapture& o) { return store(d.u64(n), o.bits_per_pixel); }},
    {"rowPadding", kOptional,
     [](Decoder& d, const Node& n, SceneCapture& o) { return store(d.u64(n), o.row_padding); }},
    {"shortBy", kOptional,
     [](Decoder& d, const Node& n, SceneCapture& o) { return store(d.u64(n), o.short_by); }},
};
constexpr RecordRule<SceneCapture> kCapture{"struct Capture", kCaptureFields};

template <class T>
Checked read_list(Decoder& d, const Node& n, const RecordRule<T>& rule, std::vector<T>& out) {
  out.clear();
  return d.sequence(n, [&](const Node& item) -> Checked {
    T value;
    if (auto read = d.record(item, rule, value); !read) return read;
    out.push_back(std::move(value));
    return {};
  });
}

Checked read_permissions(Decoder& d, const Node& n, Scene& o) {
  Permissions permissions{o.capture_permission, o.input_permission};
  if (auto read = d.record(n, kPermissions, permissions); !read) return read;
  o.capture_permission = permissions.capture;
  o.input_permission = permissions.input;
  return {};
}

// "after" is applied before the scene is decoded; here it is only accepted.
Checked accept_after(Decoder&, const Node&, Scene&) { return {}; }

constexpr FieldRule<Scene> kSceneFields[] = {
    {"permissions", kOptional, read_permissions},
    {"prompts", kOptional,
     [](Decoder& d, const Node& n, Scene& o) { return read_text(d, n, o.prompts); }},
    {"tap", kOptional,
     [](Decoder& d, const Node& n, Scene& o) { return store(d.boolean(n), o.tap); }},
    {"runLoopSource", kOptional,
     [](Decoder& d, const Node& n, Scene& o) { return store(d.boolean(n), o.run_loop_source); }},
    {"runLoop", kOptional,
     [](Decoder& d, const Node& n, Scene& o) { return store(d.boolean(n), o.run_loop); }},
    {"display", kOptional,
     [](Decoder& d, const Node& n, Scene& o) { return d.record(n, kDisplay, o.display); }},
    {"accessibility", kOptional,
     [](Decoder& d, const Node& n, Scene& o) { return store(d.boolean(n), o.accessibility); }},
    {"secureInput", kOptional,
     [](Decoder& d, const Node& n, Scene& o) { return store(d.boolean(n), o.secure_input); }},
    {"apps", kOptional,
     [](Decoder& d, const Node& n, Scene& o) { return read_list(d, n, kApp, o.apps); }},
    {"front", kOptional,
     [](Decoder& d, const Node& n, Scene& o) {
       return nullable(n, o.front, [&] { return i64(d, n); });
     }},
    {"windows", kOptional,
     [](Decoder& d, const Node& n, Scene& o) { return read_list(d, n, kWindow, o.windows); }},
    {"capture", kOptional,
     [](Decoder& d, const Node& n, Scene& o) { return d.record(n, kCapture, o.capture); }},
    {"open", kOptional,
     [](Decoder& d, const Node& n, Scene& o) { return store(d.string(n), o.open); }},
    {"input", kOptional,
     [](Decoder& d, const Node& n, Scene& o) { return read_text(d, n, o.input); }},
    {"posted", kOptional,
     [](Decoder& d, const Node& n, Scene& o) { return read_text(d, n, o.posted); }},
    {"failAfter", kOptional,
     [](Decoder& d, const Node& n, Scene& o) {
       return nullable(n, o.fail_after, [&] { return d.u64(n); });
     }},
    {"after", kOptional, accept_after},
};
constexpr RecordRule<Scene> kScene{"struct Scene", kSceneFields};

struct AfterEntry {
  std::uint64_t posts = 0;
  const Node* scene = nullptr;
};
constexpr FieldRule<AfterEntry> kAfterFields[] = {
    {"posts", Presence::kRequired,
     [](Decoder& d, const Node& n, AfterEntry& o) { return store(d.u64(n), o.posts); }},
    {"scene", Presence::kRequired,
     [](Decoder& d, const Node& n, AfterEntry& o) -> Checked {
       if (n.kind != Kind::kObject) return fail_with(d.invalid_type(n, "struct Scene"));
       o.scene = &n;
       return {};
     }},
};
constexpr RecordRule<AfterEntry> kAfter{"struct After", kAfterFields};

void replace_members(Node& root, const Node& replacement) {
  for (const Member& member : replacement.members) {
    bool replaced = false;
    for (Member& existing : root.members) {
      if (existing.key != member.key) continue;
      existing.value = member.value;
      replaced = true;
    }
    if (!replaced) root.members.push_back(member);
  }
}

// The root with the replacements that apply after `posts` posted events.
Decoded<Node> current_root(Decoder& d, const Node& root, std::uint64_t posts) {
  Node current = root;
  for (const Member& member : root.members) {
    if (member.key != "after" || !member.value) continue;
    std::vector<AfterEntry> entries;
    if (auto read = read_list(d, *member.value, kAfter, entries); !read)
      return fail_with(read.take_error());
    for (const AfterEntry& entry : entries) {
      if (entry.posts <= posts) replace_members(current, *entry.scene);
    }
  }
  return current;
}

}  // namespace

Result<Scene> parse_scene(std::string_view text, std::uint64_t posts) {
  const json::Document document = json::parse(text);
  Decoder decoder(document);
  Scene scene;
  auto read = decoder.root([&](const Node& root) -> Checked {
    if (root.kind != Kind::kObject) return fail_with(decoder.invalid_type(root, "struct Scene"));
    auto current = current_root(decoder, root, posts);
    if (!current) return fail_with(current.take_error());
    return decoder.record(*current, kScene, scene);
  });
  if (!read) return fail(json::format_error(text, read.error()));
  return scene;
}

Result<Scene> load_scene(const std::string& path, std::uint64_t posts) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return fail("cannot read " + path);
  std::stringstream text;
  text << file.rdbuf();
  auto scene = parse_scene(text.str(), posts);
  if (!scene) return fail(path + ": " + scene.error());
  return scene;
}

constexpr FieldRule<PersonEvent> kPersonEventFields[] = {
    {"type", Presence::kRequired,
     [](Decoder& d, const Node& n, PersonEvent& o) { return store(d.u32(n), o.type); }},
    {"dx", kOptional,
     [](Decoder& d, const Node& n, PersonEvent& o) { return store(i64(d, n), o.dx); }},
    {"dy", kOptional,
     [](Decoder& d, const Node& n, PersonEvent& o) { return store(i64(d, n), o.dy); }},
    {"tag", kOptional,
     [](Decoder& d, const Node& n, PersonEvent& o) { return store(i64(d, n), o.tag); }},
};
constexpr RecordRule<PersonEvent> kPersonEvent{"struct InputEvent", kPersonEventFields};

Result<PersonEvent> parse_person_event(std::string_view line) {
  const json::Document document = json::parse(line);
  Decoder decoder(document);
  PersonEvent event;
  auto read =
      decoder.root([&](const Node& root) { return decoder.record(root, kPersonEvent, event); });
  if (!read) return fail(json::format_error(line, read.error()));
  return event;
}

void scene_fault(std::string_view message) {
  exit_with_error("desktop scene: " + std::string(message));
}

}  // namespace kestrum::computer::sim
