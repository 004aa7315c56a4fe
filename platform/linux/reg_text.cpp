// REGEDIT4 text: reader, writer and the key tree operations on a document.
#include "platform/linux/reg_text.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "platform/ascii_case.h"

namespace platform::regtext {

namespace {

constexpr uint32_t TypeSz = 1;     // REG_SZ
constexpr uint32_t TypeBinary = 3;  // REG_BINARY: spelled hex:
constexpr uint32_t TypeDword = 4;  // REG_DWORD: spelled dword: when it holds four bytes
constexpr size_t DwordBytes = 4;
constexpr size_t MaxTypeDigits = 8;  // hex(N): N is a 32-bit type
constexpr size_t MaxDwordDigits = 8;
// regedit breaks hex data before a line would pass this width, going on after two blanks.
constexpr size_t HexLineWidth = 76;
constexpr const char* HexContinuationIndent = "  ";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimLeft(std::string_view s)
{
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

std::string_view trimRight(std::string_view s)
{
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && sameName(s.substr(0, prefix.size()), prefix);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 1 to maxDigits hex digits, the whole of s.
bool parseHexNumber(std::string_view s, size_t maxDigits, uint32_t* out)
{
    if (s.empty() || s.size() > maxDigits) {
        return false;
    }
    uint32_t v = 0;
    for (char c : s) {
        int d = hexDigit(c);
        if (d < 0) {
            return false;
        }
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    *out = v;
    return true;
}

// A quoted text at the start of s ("..." with \\ and \" escapes); s is left after the closing
// quote. False for a missing closing quote or another escape.
bool parseQuoted(std::string_view& s, std::string* out)
{
    if (s.empty() || s.front() != '"') {
        return false;
    }
    out->clear();
    size_t i = 1;
    while (i < s.size()) {
        char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"')) {
                return false;
            }
            out->push_back(s[i + 1]);
            i += 2;
            continue;
        }
        out->push_back(c);
        ++i;
    }
    return false;
}

// Comma-separated bytes of one or two hex digits each; blanks around them allowed; nothing at
// all is no data. A comma at the very end (left by a continuation) is allowed.
bool parseHexBytes(std::string_view s, std::vector<uint8_t>* out)
{
    out->clear();
    s = trimRight(trimLeft(s));
    if (s.empty()) {
        return true;
    }
    if (s.back() == ',') {
        s.remove_suffix(1);
    }
    while (true) {
        size_t comma = s.find(',');
        std::string_view token = trimRight(trimLeft(s.substr(0, comma)));
        uint32_t byte = 0;
        if (!parseHexNumber(token, 2, &byte)) {
            return false;
        }
        out->push_back(static_cast<uint8_t>(byte));
        if (comma == std::string_view::npos) {
            return true;
        }
        s.remove_prefix(comma + 1);
    }
}

// The data after '=': "text", dword:, hex:, hex(N):.
bool parseData(std::string_view s, Value* value)
{
    s = trimRight(s);
    if (!s.empty() && s.front() == '"') {
        std::string text;
        if (!parseQuoted(s, &text) || !trimLeft(s).empty()) {
            return false;
        }
        value->type = TypeSz;
        value->data.assign(text.begin(), text.end());
        value->data.push_back(0);
        return true;
    }
    if (startsWithNoCase(s, "dword:")) {
        uint32_t v = 0;
        if (!parseHexNumber(trimLeft(s.substr(6)), MaxDwordDigits, &v)) {
            return false;
        }
        value->type = TypeDword;
        value->data = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                       static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
        return true;
    }
    if (startsWithNoCase(s, "hex:")) {
        value->type = TypeBinary;
        return parseHexBytes(s.substr(4), &value->data);
    }
    if (startsWithNoCase(s, "hex(")) {
        size_t close = s.find(')');
        if (close == std::string_view::npos || close + 1 >= s.size() || s[close + 1] != ':') {
            return false;
        }
        uint32_t type = 0;
        if (!parseHexNumber(s.substr(4, close - 4), MaxTypeDigits, &type)) {
            return false;
        }
        value->type = type;
        return parseHexBytes(s.substr(close + 2), &value->data);
    }
    return false;
}

// The name and '=' at the start of a value line; s is left at the data.
bool parseName(std::string_view& s, std::string* name)
{
    if (!s.empty() && s.front() == '@') {
        name->clear();
        s.remove_prefix(1);
    } else if (!parseQuoted(s, name)) {
        return false;
    }
    s = trimLeft(s);
    if (s.empty() || s.front() != '=') {
        return false;
    }
    s = trimLeft(s.substr(1));
    return true;
}

bool isHexData(std::string_view data) { return startsWithNoCase(data, "hex:") || startsWithNoCase(data, "hex("); }

// A key header "[A\B\C]"; false for an empty component or a deletion header "[-...]".
bool parseHeader(std::string_view line, std::vector<std::string>* path)
{
    line = trimRight(line);
    if (line.size() < 3 || line.front() != '[' || line.back() != ']' || line[1] == '-') {
        return false;
    }
    std::string_view inner = line.substr(1, line.size() - 2);
    path->clear();
    while (true) {
        size_t slash = inner.find('\\');
        std::string_view part = inner.substr(0, slash);
        if (part.empty()) {
            return false;
        }
        path->emplace_back(part);
        if (slash == std::string_view::npos) {
            return true;
        }
        inner.remove_prefix(slash + 1);
    }
}

std::string quoted(std::string_view text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

// Text that "..." can carry: one terminating zero, no other zero, no line break.
bool spellableAsText(const Value& v)
{
    if (v.type != TypeSz || v.data.empty() || v.data.back() != 0) {
        return false;
    }
    return std::none_of(v.data.begin(), v.data.end() - 1,
                        [](uint8_t b) { return b == 0 || b == '\r' || b == '\n'; });
}

std::vector<std::string> spellValue(const Value& v)
{
    std::string head = (v.name.empty() ? std::string("@") : quoted(v.name)) + "=";
    if (spellableAsText(v)) {
        return {head + quoted(std::string_view(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1))};
    }
    char buf[32];
    if (v.type == TypeDword && v.data.size() == DwordBytes) {
        uint32_t d = static_cast<uint32_t>(v.data[0]) | (static_cast<uint32_t>(v.data[1]) << 8) |
                     (static_cast<uint32_t>(v.data[2]) << 16) | (static_cast<uint32_t>(v.data[3]) << 24);
        std::snprintf(buf, sizeof buf, "dword:%08x", d);
        return {head + buf};
    }
    if (v.type == TypeBinary) {
        head += "hex:";
    } else {
        std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
        head += buf;
    }
    std::vector<std::string> lines;
    std::string line = head;
    for (size_t i = 0; i < v.data.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x%s", v.data[i], i + 1 < v.data.size() ? "," : "");
        if (line.size() + std::char_traits<char>::length(buf) > HexLineWidth && line != head) {
            lines.push_back(line + "\\");
            line = HexContinuationIndent;
        }
        line += buf;
    }
    lines.push_back(line);
    return lines;
}

bool samePath(const std::vector<std::string>& a, const std::vector<std::string>& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (!sameName(a[i], b[i])) {
            return false;
        }
    }
    return true;
}

// The section's key is path itself or a key below it.
bool isUnder(const std::vector<std::string>& sectionPath, const std::vector<std::string>& path)
{
    if (sectionPath.size() < path.size()) {
        return false;
    }
    for (size_t i = 0; i < path.size(); ++i) {
        if (!sameName(sectionPath[i], path[i])) {
            return false;
        }
    }
    return true;
}

// Adds an empty section for exactly this key when the document has none, after the last section
// of its parent's subtree (so the file stays in tree order as regedit writes it).
void ensureSection(Document& doc, const std::vector<std::string>& path)
{
    for (const Section& s : doc.sections) {
        if (samePath(s.path, path)) {
            return;
        }
    }
    if (doc.empty) {
        doc.empty = false;
        doc.preamble.push_back("");
    }
    // A key implied by its subkeys' headers goes before the first of them; a new one after the
    // last key below its parent.
    std::vector<std::string> parent(path.begin(), path.end() - (path.size() > 1 ? 1 : 0));
    size_t at = doc.sections.size();
    auto firstBelow = std::find_if(doc.sections.begin(), doc.sections.end(),
                                   [&](const Section& s) { return isUnder(s.path, path); });
    if (firstBelow != doc.sections.end()) {
        at = static_cast<size_t>(firstBelow - doc.sections.begin());
    } else {
        for (size_t i = doc.sections.size(); i-- > 0;) {
            if (isUnder(doc.sections[i].path, parent)) {
                at = i + 1;
                break;
            }
        }
    }
    Section section;
    section.path = path;
    section.items.push_back(Item{false, {}, {""}});
    doc.sections.insert(doc.sections.begin() + static_cast<std::ptrdiff_t>(at), std::move(section));
}

}  // namespace

bool sameName(std::string_view a, std::string_view b) { return platform::equalsNoCase(a, b); }

std::vector<std::string> splitPath(std::string_view path)
{
    std::vector<std::string> parts;
    while (!path.empty()) {
        size_t slash = path.find('\\');
        if (slash != 0) {
            parts.emplace_back(path.substr(0, slash));
        }
        if (slash == std::string_view::npos) {
            break;
        }
        path.remove_prefix(slash + 1);
    }
    return parts;
}

Document parse(std::string_view text)
{
    Document doc;
    if (text.empty()) {
        return doc;
    }
    doc.empty = false;

    std::vector<std::string_view> lines;  // views into text: one copy only of what is kept
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        // Every CR before the LF goes: a line kept as read never ends in one, so writing it back
        // with either line end reads back the same.
        bool hasCr = !line.empty() && line.back() == '\r';
        while (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (lines.empty()) {
            doc.crlf = hasCr || end == std::string_view::npos;
        }
        lines.emplace_back(line);
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }

    if (trimRight(lines[0]) != HeaderLine) {
        // Not a file regedit wrote (a half-saved one, another format): nothing in it is a key.
        doc.notRegedit4 = true;
        doc.unreadable.push_back({1, std::string(lines[0])});
        return doc;
    }
    Section* current = nullptr;
    bool inBadSection = false;  // after a header that could not be read: no key to put values in
    for (size_t i = 1; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        size_t lineNumber = i + 1;
        std::string_view t = trimLeft(line);
        if (line.find('\0') != std::string_view::npos) {
            doc.unreadable.push_back({lineNumber, std::string(line)});
            continue;
        }
        if (t.empty() || t.front() == ';') {
            Item kept{false, {}, {std::string(line)}};
            if (current) {
                current->items.push_back(std::move(kept));
            } else {
                doc.preamble.emplace_back(line);
            }
            continue;
        }
        if (t.front() == '[') {
            Section section;
            if (!parseHeader(t, &section.path)) {
                doc.unreadable.push_back({lineNumber, std::string(line)});
                current = nullptr;
                inBadSection = true;
                continue;
            }
            section.headerLine = line;
            doc.sections.push_back(std::move(section));
            current = &doc.sections.back();
            inBadSection = false;
            continue;
        }

        Item item;
        item.isValue = true;
        item.lines.emplace_back(line);
        std::string_view rest = t;
        bool ok = parseName(rest, &item.value.name);
        std::string joined;
        if (ok && isHexData(rest)) {
            // Hex data goes on over the next lines while a line ends in a backslash.
            joined = std::string(trimRight(rest));
            while (ok && !joined.empty() && joined.back() == '\\') {
                joined.pop_back();
                if (i + 1 >= lines.size()) {
                    ok = false;
                    break;
                }
                ++i;
                item.lines.emplace_back(lines[i]);
                if (lines[i].find('\0') != std::string_view::npos) {
                    ok = false;
                    break;
                }
                joined += trimRight(trimLeft(lines[i]));
            }
            rest = joined;
        }
        ok = ok && parseData(rest, &item.value);
        if (!ok || !current || inBadSection) {
            doc.unreadable.push_back({lineNumber, std::string(line)});
            continue;
        }
        current->items.push_back(std::move(item));
    }
    return doc;
}

std::string write(const Document& doc)
{
    const char* eol = doc.crlf ? "\r\n" : "\n";
    std::string out = std::string(HeaderLine) + eol;
    for (const std::string& line : doc.preamble) {
        out += line + eol;
    }
    for (const Section& s : doc.sections) {
        if (!s.headerLine.empty()) {
            out += s.headerLine + eol;
        } else {
            out += "[";
            for (size_t i = 0; i < s.path.size(); ++i) {
                out += (i ? "\\" : "") + s.path[i];
            }
            out += std::string("]") + eol;
        }
        for (const Item& item : s.items) {
            for (const std::string& line : item.lines.empty() ? spellValue(item.value) : item.lines) {
                out += line + eol;
            }
        }
    }
    return out;
}

bool keyExists(const Document& doc, const std::vector<std::string>& path)
{
    if (path.size() <= 1) {
        return true;  // the root
    }
    return std::any_of(doc.sections.begin(), doc.sections.end(),
                       [&](const Section& s) { return isUnder(s.path, path); });
}

std::vector<std::string> subkeyNames(const Document& doc, const std::vector<std::string>& path)
{
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;  // folded names: one look each, not one per name listed
    for (const Section& s : doc.sections) {
        if (s.path.size() <= path.size() || !isUnder(s.path, path)) {
            continue;
        }
        const std::string& name = s.path[path.size()];
        if (seen.insert(foldedPath({name})).second) {
            names.push_back(name);
        }
    }
    return names;
}

std::string foldedPath(const std::vector<std::string>& path)
{
    std::string folded;
    for (size_t i = 0; i < path.size(); ++i) {
        if (i) {
            folded += '\\';
        }
        for (char c : path[i]) {
            folded += platform::asciiLower(c);
        }
    }
    return folded;
}

KeyIndex indexKeys(const Document& doc)
{
    KeyIndex index;
    // A file lists the keys of one subtree one after the other: the keys a section shares with the
    // one before it are taken from there rather than looked up again.
    std::vector<std::string> previous;
    std::vector<KeyIndex::Entry*> previousEntries;
    std::vector<size_t> foldedEnds;  // where each component ends in folded
    std::string folded;
    for (size_t i = 0; i < doc.sections.size(); ++i) {
        const std::vector<std::string>& path = doc.sections[i].path;
        size_t shared = 0;
        while (shared < path.size() && shared < previous.size() && path[shared] == previous[shared]) {
            ++shared;
        }
        previousEntries.resize(shared);
        foldedEnds.resize(shared);
        folded.resize(shared ? foldedEnds.back() : 0);
        // Every key above the section's own exists too; a key seen for the first time is a new
        // subkey of the one above it.
        for (size_t n = shared; n < path.size(); ++n) {
            if (n) {
                folded += '\\';
            }
            for (char c : path[n]) {
                folded += platform::asciiLower(c);
            }
            auto [it, added] = index.keys.try_emplace(folded);
            if (added && n > 0) {
                previousEntries[n - 1]->subkeys.push_back(path[n]);
            }
            previousEntries.push_back(&it->second);
            foldedEnds.push_back(folded.size());
        }
        if (!previousEntries.empty()) {
            previousEntries.back()->sections.push_back(i);
        }
        previous = path;
    }
    return index;
}

const KeyIndex::Entry* findKey(const KeyIndex& index, const std::vector<std::string>& path)
{
    static const KeyIndex::Entry emptyRoot;
    auto it = index.keys.find(foldedPath(path));
    if (it != index.keys.end()) {
        return &it->second;
    }
    return path.size() <= 1 ? &emptyRoot : nullptr;
}

const Value* findValue(const Document& doc, const KeyIndex& index, const std::vector<std::string>& path,
                       std::string_view name)
{
    const KeyIndex::Entry* key = findKey(index, path);
    if (!key) {
        return nullptr;
    }
    const Value* found = nullptr;
    for (size_t i : key->sections) {
        for (const Item& item : doc.sections[i].items) {
            if (item.isValue && sameName(item.value.name, name)) {
                found = &item.value;
            }
        }
    }
    return found;
}

const Value* findValue(const Document& doc, const std::vector<std::string>& path, std::string_view name)
{
    const Value* found = nullptr;
    for (const Section& s : doc.sections) {
        if (!samePath(s.path, path)) {
            continue;
        }
        for (const Item& item : s.items) {
            if (item.isValue && sameName(item.value.name, name)) {
                found = &item.value;
            }
        }
    }
    return found;
}

void createKey(Document& doc, const std::vector<std::string>& path)
{
    // Each missing key gets its own header, as regedit writes them; a key that exists already,
    // if only implied by a subkey's header, is left as it is.
    for (size_t n = 2; n <= path.size(); ++n) {
        std::vector<std::string> prefix(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(n));
        if (!keyExists(doc, prefix)) {
            ensureSection(doc, prefix);
        }
    }
}

void setValue(Document& doc, const std::vector<std::string>& path, const Value& value)
{
    Item* last = nullptr;
    for (Section& s : doc.sections) {
        if (!samePath(s.path, path)) {
            continue;
        }
        for (Item& item : s.items) {
            if (item.isValue && sameName(item.value.name, value.name)) {
                last = &item;
            }
        }
    }
    if (last) {
        // The stored name keeps its case, as the registry keeps it.
        std::string storedName = last->value.name;
        last->value = value;
        last->value.name = storedName;
        last->lines.clear();
        return;
    }
    createKey(doc, path);
    ensureSection(doc, path);
    Section* section = nullptr;
    for (Section& s : doc.sections) {
        if (samePath(s.path, path)) {
            section = &s;
        }
    }
    // After the key's last value; in a key without values, before the blank lines that end it.
    size_t at = section->items.size();
    bool anyValue = false;
    for (size_t i = section->items.size(); i-- > 0;) {
        if (section->items[i].isValue) {
            at = i + 1;
            anyValue = true;
            break;
        }
    }
    if (!anyValue) {
        while (at > 0 && trimLeft(section->items[at - 1].lines.front()).empty()) {
            --at;
        }
    }
    section->items.insert(section->items.begin() + static_cast<std::ptrdiff_t>(at), Item{true, value, {}});
}

bool deleteValue(Document& doc, const std::vector<std::string>& path, std::string_view name)
{
    bool found = false;
    for (Section& s : doc.sections) {
        if (!samePath(s.path, path)) {
            continue;
        }
        auto gone = std::remove_if(s.items.begin(), s.items.end(), [&](const Item& item) {
            return item.isValue && sameName(item.value.name, name);
        });
        found = found || gone != s.items.end();
        s.items.erase(gone, s.items.end());
    }
    return found;
}

bool deleteKey(Document& doc, const std::vector<std::string>& path)
{
    if (path.size() < 2 || !keyExists(doc, path)) {
        return false;
    }
    size_t first = doc.sections.size();
    for (size_t i = 0; i < doc.sections.size(); ++i) {
        if (isUnder(doc.sections[i].path, path)) {
            first = std::min(first, i);
        }
    }
    doc.sections.erase(std::remove_if(doc.sections.begin(), doc.sections.end(),
                                      [&](const Section& s) { return isUnder(s.path, path); }),
                       doc.sections.end());
    std::vector<std::string> parent(path.begin(), path.end() - 1);
    if (parent.size() >= 2 && !keyExists(doc, parent)) {
        // The parent had been implied only by the removed key's header: it stays a key.
        Section section;
        section.path = parent;
        section.items.push_back(Item{false, {}, {""}});
        doc.sections.insert(doc.sections.begin() + static_cast<std::ptrdiff_t>(std::min(first, doc.sections.size())),
                            std::move(section));
    }
    return true;
}

}  // namespace platform::regtext
