// JSON for one-line records: a string literal that any bytes stay valid in, and a reader for the
// flat objects the program writes (strings, numbers, true/false/null as values; no nesting).
// Used by the upgrade record and the command line's JSON output.
// Results: jsonQuoted always succeeds; parseFlatObject is false for anything that is not one
// whole flat object (a torn or foreign line), leaving fields unspecified.
// Thread rule: pure functions, safe from any thread.
#pragma once

#include <map>
#include <string>

// Quotes, backslashes and control characters escaped, bytes above 0x7E as \u00XX, so an answer a
// modem gives or a file name in any code page stays valid JSON and comes back byte for byte.
std::string jsonQuoted(const std::string& text);

struct JsonValue {
    enum class Kind { String, Number, True, False, Null } kind = Kind::Null;
    std::string text;  // a string's bytes (\u00XX back to the byte), or a number as written
};
using JsonObject = std::map<std::string, JsonValue>;

bool parseFlatObject(const std::string& line, JsonObject& fields);
