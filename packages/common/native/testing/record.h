// What the tests saw, kept for scripts/check-schemas, which holds it against
// the published JSON Schemas in schemas/. Nothing is kept unless the
// environment variable KESTRUM_RECORD names a folder (ctest sets it); each
// process appends to its own files there, named after the schema:
// <schema>-<pid>.jsonl for documents a program wrote, one per line, and
// <schema>.cases-<pid>.jsonl for documents given to a reader, each as
// {"refusal": message or null, "text": document}.
#pragma once

#include <string_view>

namespace kestrum::testing {

// A JSON document a program wrote (an answer, an event line), without its
// line feed. Throws when the folder is named but cannot be written.
void record_output(std::string_view schema, std::string_view json);

// A document a reader was given and its verdict: `refusal` is the reader's
// message, empty when it accepted the document. Texts that are not UTF-8
// are left out: a reader refuses them before it looks at their shape.
void record_case(std::string_view schema, std::string_view text, std::string_view refusal);

}  // namespace kestrum::testing
