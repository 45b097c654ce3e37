#include "serve/request.h"

#include <optional>

#include "json/decode.h"
#include "json/document.h"

namespace kestrum::computer {
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

constexpr std::string_view kPartyNames[] = {"agent", "person"};
constexpr std::string_view kButtonNames[] = {"left", "right", "middle"};

std::string backquoted(std::string_view name) { return "`" + std::string(name) + "`"; }

template <class E>
Checked read_enum(Decoder& d, const Node& node, std::span<const std::string_view> names, E& out) {
  auto index = d.variant(node, names);
  if (!index) return fail_with(index.take_error());
  out = static_cast<E>(*index);
  return {};
}

Checked read_party(Decoder& d, const Node& node, Party& out) {
  return read_enum(d, node, kPartyNames, out);
}

// Points ignore members other than x and y.
constexpr FieldRule<Point> kPointFields[] = {
    {"x", Presence::kRequired,
     [](Decoder& d, const Node& n, Point& o) { return store(d.f64(n), o.x); }},
    {"y", Presence::kRequired,
     [](Decoder& d, const Node& n, Point& o) { return store(d.f64(n), o.y); }},
};
constexpr RecordRule<Point> kPoint{"struct Point", kPointFields, true};

Checked read_path(Decoder& d, const Node& node, op::Drag& out) {
  return d.sequence(node, [&](const Node& item) -> Checked {
    Point point;
    if (auto read = d.record(item, kPoint, point); !read) return read;
    out.path.push_back(point);
    return {};
  });
}

constexpr RecordRule<op::Hello> kHello{"struct Hello", {}, true};
constexpr RecordRule<op::Apps> kApps{"struct Apps", {}, true};

constexpr FieldRule<op::Grant> kGrantFields[] = {
    {"apps", Presence::kRequired,
     [](Decoder& d, const Node& n, op::Grant& o) { return store(d.strings(n), o.apps); }},
};
constexpr RecordRule<op::Grant> kGrant{"struct Grant", kGrantFields};

constexpr FieldRule<op::Owner> kOwnerFields[] = {
    {"owner", Presence::kRequired,
     [](Decoder& d, const Node& n, op::Owner& o) { return read_party(d, n, o.owner); }},
};
constexpr RecordRule<op::Owner> kOwner{"struct Owner", kOwnerFields};

constexpr FieldRule<op::Capture> kCaptureFields[] = {
    {"maxSide", Presence::kRequired,
     [](Decoder& d, const Node& n, op::Capture& o) { return store(d.u64(n), o.max_side); }},
};
constexpr RecordRule<op::Capture> kCapture{"struct Capture", kCaptureFields};

constexpr FieldRule<op::Click> kClickFields[] = {
    {"x", Presence::kRequired,
     [](Decoder& d, const Node& n, op::Click& o) { return store(d.f64(n), o.x); }},
    {"y", Presence::kRequired,
     [](Decoder& d, const Node& n, op::Click& o) { return store(d.f64(n), o.y); }},
    {"button", Presence::kDefault,
     [](Decoder& d, const Node& n, op::Click& o) {
       return read_enum(d, n, kButtonNames, o.button);
     }},
    {"count", Presence::kDefault,
     [](Decoder& d, const Node& n, op::Click& o) { return store(d.u8(n), o.count); }},
};
constexpr RecordRule<op::Click> kClick{"struct Click", kClickFields};

constexpr FieldRule<op::Move> kMoveFields[] = {
    {"x", Presence::kRequired,
     [](Decoder& d, const Node& n, op::Move& o) { return store(d.f64(n), o.x); }},
    {"y", Presence::kRequired,
     [](Decoder& d, const Node& n, op::Move& o) { return store(d.f64(n), o.y); }},
};
constexpr RecordRule<op::Move> kMove{"struct Move", kMoveFields};

constexpr FieldRule<op::Drag> kDragFields[] = {
    {"path", Presence::kRequired, read_path},
};
constexpr RecordRule<op::Drag> kDrag{"struct Drag", kDragFields};

constexpr FieldRule<op::Scroll> kScrollFields[] = {
    {"x", Presence::kRequired,
     [](Decoder& d, const Node& n, op::Scroll& o) { return store(d.f64(n), o.x); }},
    {"y", Presence::kRequired,
     [](Decoder& d, const Node& n, op::Scroll& o) { return store(d.f64(n), o.y); }},
    {"dx", Presence::kRequired,
     [](Decoder& d, const Node& n, op::Scroll& o) { return store(d.i32(n), o.dx); }},
    {"dy", Presence::kRequired,
     [](Decoder& d, const Node& n, op::Scroll& o) { return store(d.i32(n), o.dy); }},
};
constexpr RecordRule<op::Scroll> kScroll{"struct Scroll", kScrollFields};

constexpr FieldRule<op::Type> kTypeFields[] = {
    {"text", Presence::kRequired,
     [](Decoder& d, const Node& n, op::Type& o) { return store(d.string(n), o.text); }},
};
constexpr RecordRule<op::Type> kType{"struct Type", kTypeFields};

constexpr FieldRule<op::Key> kKeyFields[] = {
    {"keys", Presence::kRequired,
     [](Decoder& d, const Node& n, op::Key& o) { return store(d.string(n), o.keys); }},
};
constexpr RecordRule<op::Key> kKey{"struct Key", kKeyFields};

constexpr FieldRule<op::Open> kOpenFields[] = {
    {"app", Presence::kRequired,
     [](Decoder& d, const Node& n, op::Open& o) { return store(d.string(n), o.app); }},
};
constexpr RecordRule<op::Open> kOpen{"struct Open", kOpenFields};

template <class T, const RecordRule<T>& Rule>
Decoded<Op> read_operation(Decoder& d, const Node& fields) {
  T out;
  if (auto read = d.record(fields, Rule, out); !read) return fail_with(read.take_error());
  return Op(std::move(out));
}

using OperationReader = Decoded<Op> (*)(Decoder&, const Node&);
constexpr OperationReader kOperationReaders[] = {
    read_operation<op::Hello, kHello>,     read_operation<op::Grant, kGrant>,
    read_operation<op::Owner, kOwner>,     read_operation<op::Apps, kApps>,
    read_operation<op::Capture, kCapture>, read_operation<op::Click, kClick>,
    read_operation<op::Move, kMove>,       read_operation<op::Drag, kDrag>,
    read_operation<op::Scroll, kScroll>,   read_operation<op::Type, kType>,
    read_operation<op::Key, kKey>,         read_operation<op::Open, kOpen>,
};
static_assert(std::size(kOperationReaders) == std::size(kOpNames));

// An object node holding some of another object's members.
Node object_like(const Node& object) {
  Node out;
  out.kind = Kind::kObject;
  out.start = object.start;
  out.end = object.end;
  return out;
}

// The envelope's own members are read in text order as they come; every
// other member is kept for the operation, the way a flattened record reads.
Checked read_envelope(Decoder& d, const Node& root, Request& request, Node& rest) {
  bool seen_id = false;
  bool seen_by = false;
  for (const Member& member : root.members) {
    bool* seen = member.key == "id" ? &seen_id : member.key == "by" ? &seen_by : nullptr;
    if (!seen) {
      rest.members.push_back(member);
      continue;
    }
    if (*seen)
      return fail_with(d.error(member.after_key, "duplicate field " + backquoted(member.key)));
    *seen = true;
    Checked read = seen == &seen_id ? store(d.u64(*member.value), request.id)
                                    : read_party(d, *member.value, request.by);
    if (!read) return read;
  }
  if (!seen_id) return fail_with(d.error(root.end, "missing field `id`"));
  return {};
}

// Takes "op" out of `rest`, leaving the operation's fields.
Decoded<std::size_t> take_op(Decoder& d, Node& rest) {
  std::optional<std::size_t> index;
  Node fields = object_like(rest);
  for (const Member& member : rest.members) {
    if (member.key != "op") {
      fields.members.push_back(member);
      continue;
    }
    if (index) return fail_with(d.error(member.after_key, "duplicate field `op`"));
    // A name or an index; the one-key object form is not accepted here.
    auto read = d.variant_identifier(*member.value, kOpNames);
    if (!read) return read;
    index = *read;
  }
  if (!index) return fail_with(d.error(rest.end, "missing field `op`"));
  rest = std::move(fields);
  return *index;
}

Checked read_request(Decoder& d, const Node& root, Request& request) {
  if (root.kind != Kind::kObject) return fail_with(d.invalid_type(root, "struct Request"));
  Node rest = object_like(root);
  if (auto read = read_envelope(d, root, request, rest); !read) return read;
  auto index = take_op(d, rest);
  if (!index) return fail_with(index.take_error());
  auto op = kOperationReaders[*index](d, rest);
  if (!op) return fail_with(op.take_error());
  request.op = std::move(*op);
  return {};
}

}  // namespace

Result<Request> parse_request(std::string_view line) {
  const json::Document document = json::parse(line);
  // The whole object is read before any field is judged, so every typed
  // error is located just after it.
  Decoder decoder(document, json::Positioning::kAfterRoot);
  Request request;
  auto read = decoder.root([&](const Node& root) { return read_request(decoder, root, request); });
  if (!read) return fail(json::format_error(line, read.error()));
  return request;
}

}  // namespace kestrum::computer
