// REGEDIT4 text, as regedit writes and reads it, and the key tree it holds: the reader (text to
// a document plus the lines it could not read), the writer (document to text), and the key and
// value operations the key store performs on a document in memory.
//
// The format: the first line "REGEDIT4"; key headers "[HKEY_LOCAL_MACHINE\Path\To\Key]"; values
// "name"=... or @=... (the default value) as "text" (with \\ and \" escapes), dword:0000001f,
// hex:01,02 (binary) or hex(N):01,02 (type N in hex), hex data going on over lines that end in a
// backslash; lines starting with ';' are comments; blank lines; CR LF or LF line ends. A key
// named in a header implies the keys above it. Several headers may name one key; a value set
// twice has its later setting.
//
// A document keeps every line it read as it was (comments, blank lines, the spelling of values
// and headers), so that writing it back changes only what an operation changed. A value line
// the writer builds is regedit's own spelling. Key and value names are matched without regard
// to (ASCII) case and keep the case they were stored with.
//
// Results: the reader never fails: what it cannot read goes to `unreadable`, one entry per
// line or continued value, and that document must not be written back (the store refuses).
// Thread rule: plain functions over the caller's data; no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform::regtext {

constexpr const char* HeaderLine = "REGEDIT4";

struct Value {
    std::string name;  // empty: the default value (@)
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

// One entry of a key's section: a value, or a line kept as it was (comment, blank line).
struct Item {
    bool isValue = false;
    Value value;
    // The lines as read, without line ends (a continued value has several); empty for a value
    // that was set since, which the writer spells anew.
    std::vector<std::string> lines;
};

struct Section {
    std::vector<std::string> path;  // components, the root (HKEY_LOCAL_MACHINE) first
    std::string headerLine;         // as read; empty for a section made since
    std::vector<Item> items;
};

struct UnreadableLine {
    size_t lineNumber = 0;  // 1-based; the first line of a continued value
    std::string text;
};

struct Document {
    bool empty = true;                 // no text at all (a missing or zero-length file)
    // The text does not begin with the REGEDIT4 line: it is no key tree at all, so nothing of it
    // is read (its first line is the one unreadable entry).
    bool notRegedit4 = false;
    bool crlf = true;                  // line ends to write: CR LF as regedit, or the file's LF
    std::vector<std::string> preamble;  // lines between the header and the first key (comments)
    std::vector<Section> sections;
    std::vector<UnreadableLine> unreadable;
};

Document parse(std::string_view text);
std::string write(const Document& doc);

// A key path text ("Enum\USB\VID_4E2C&PID_7A01") into components; empty components (doubled,
// leading or trailing backslashes) are dropped.
std::vector<std::string> splitPath(std::string_view path);
bool sameName(std::string_view a, std::string_view b);

// Where each key of a document is: its sections and its direct subkeys, built once so that a
// lookup costs what it looks at, not the size of the file. Valid while the document is unchanged.
struct KeyIndex {
    struct Entry {
        std::vector<size_t> sections;      // indexes into Document::sections, in file order
        std::vector<std::string> subkeys;  // in the order they first appear, each once
    };
    std::unordered_map<std::string, Entry> keys;  // by foldedPath()
};
KeyIndex indexKeys(const Document& doc);
// The key's entry, or null when the document has no such key (the root always has one).
const KeyIndex::Entry* findKey(const KeyIndex& index, const std::vector<std::string>& path);
// As findValue below, through the index.
const Value* findValue(const Document& doc, const KeyIndex& index, const std::vector<std::string>& path,
                       std::string_view name);
// The path as one text with its letters folded to lower case: the index's key.
std::string foldedPath(const std::vector<std::string>& path);

// Key operations on a document; paths are full (root first).
bool keyExists(const Document& doc, const std::vector<std::string>& path);
// Names of the key's direct subkeys in the order they first appear, each once.
std::vector<std::string> subkeyNames(const Document& doc, const std::vector<std::string>& path);
// The value in force (the last setting), or null.
const Value* findValue(const Document& doc, const std::vector<std::string>& path,
                       std::string_view name);
// Makes the key and every missing key above it (below the root), each with its own header.
void createKey(Document& doc, const std::vector<std::string>& path);
// Sets a value of an existing key (the key is created when missing).
void setValue(Document& doc, const std::vector<std::string>& path, const Value& value);
// False when the key has no such value.
bool deleteValue(Document& doc, const std::vector<std::string>& path, std::string_view name);
// Removes the key with all its subkeys and values; false when there is no such key. The parent
// stays a key even when it had been implied only by the removed key's header.
bool deleteKey(Document& doc, const std::vector<std::string>& path);

}  // namespace platform::regtext
