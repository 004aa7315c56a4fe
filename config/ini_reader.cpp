#include "config/ini_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>

namespace {

// The file is read in pieces so that neither a huge file nor a huge line costs more than a few
// pieces of memory.
constexpr size_t ReadChunkBytes = 64 * 1024;
// A line keeps at most this much of its text (plus the caller's names and buffer): enough for
// any name worth matching and any value the caller can take. The rest of a longer line is only
// watched for its last non-blank character, which decides whether the value was quoted.
constexpr size_t LineKeepBytes = 64 * 1024;

constexpr unsigned char Utf8Bom[] = {0xEF, 0xBB, 0xBF};
constexpr unsigned char Utf16LeBom[] = {0xFF, 0xFE};
constexpr unsigned char Utf16BeBom[] = {0xFE, 0xFF};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v'; }

char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (asciiUpper(a[i]) != asciiUpper(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// The caller's names lose spaces only: a tab in a requested name is part of it.
std::string_view trimTrailingSpaces(std::string_view s)
{
    while (!s.empty() && s.back() == ' ') {
        s.remove_suffix(1);
    }
    return s;
}

std::string_view trimSpaces(std::string_view s)
{
    while (!s.empty() && s.front() == ' ') {
        s.remove_prefix(1);
    }
    return trimTrailingSpaces(s);
}

std::string cutToBuffer(std::string_view s, size_t bufferSize)
{
    if (bufferSize == 0) {
        return std::string();
    }
    return std::string(s.substr(0, bufferSize - 1));
}

// Follows the file line by line looking for one key in the first section of one name, and
// stops as soon as the answer is known.
class KeySearch {
public:
    KeySearch(std::string_view section, std::string_view key, size_t bufferSize)
        : section_(section), key_(key), bufferSize_(bufferSize),
          keepLimit_(LineKeepBytes + section.size() + key.size() + bufferSize)
    {
    }

    // Takes text; true once the search is decided (found, or the section ended without it).
    bool feed(const char* text, size_t n)
    {
        for (size_t i = 0; i < n && !decided_; ++i) {
            char c = text[i];
            if (c == '\r' || c == '\n') {
                endLine();
            } else if (line_.empty() && !overflow_ && isBlank(c)) {
                // Leading blanks never count, so they don't use up the kept part of the line.
            } else {
                if (line_.size() < keepLimit_) {
                    line_.push_back(c);
                } else {
                    overflow_ = true;
                }
                if (!isBlank(c)) {
                    lastNonBlank_ = c;
                }
            }
        }
        return decided_;
    }

    // The end of the text also ends its last line.
    void finish()
    {
        if (!decided_) {
            endLine();
        }
        decided_ = true;
    }

    bool found() const { return found_; }
    const std::string& value() const { return value_; }

private:
    void endLine()
    {
        handleLine();
        line_.clear();
        overflow_ = false;
        lastNonBlank_ = 0;
    }

    void handleLine()
    {
        std::string_view line(line_);
        if (!overflow_) {
            line = trimBlanks(line);
        }
        if (line.empty()) {
            return;
        }
        if (line.front() == '[') {
            handleSectionHeader(line.substr(1));
            return;
        }
        if (!inSection_ || line.front() == ';') {
            return;
        }
        size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            return;
        }
        if (!equalsNoCase(trimBlanks(line.substr(0, equals)), key_)) {
            return;
        }
        std::string_view value = line.substr(equals + 1);
        while (!value.empty() && isBlank(value.front())) {
            value.remove_prefix(1);
        }
        value_ = cutToBuffer(stripQuotes(value), bufferSize_);
        found_ = true;
        decided_ = true;
    }

    void handleSectionHeader(std::string_view rest)
    {
        size_t close = rest.find(']');
        bool nameComplete = close != std::string_view::npos || !overflow_;
        std::string_view name = trimBlanks(rest.substr(0, close));
        if (inSection_) {
            // A later section of the same name is never looked at, so the key is absent.
            decided_ = true;
            return;
        }
        inSection_ = nameComplete && equalsNoCase(name, section_);
    }

    // One pair of matching quotes around the whole value goes. When the line was too long to
    // keep, the closing quote lies beyond the kept part and falls outside the result anyway.
    std::string_view stripQuotes(std::string_view value) const
    {
        if (value.empty() || (value.front() != '"' && value.front() != '\'')) {
            return value;
        }
        if (overflow_) {
            return lastNonBlank_ == value.front() ? value.substr(1) : value;
        }
        if (value.size() >= 2 && value.back() == value.front()) {
            return value.substr(1, value.size() - 2);
        }
        return value;
    }

    std::string_view section_;
    std::string_view key_;
    size_t bufferSize_;
    size_t keepLimit_;

    std::string line_;
    bool overflow_ = false;
    char lastNonBlank_ = 0;
    bool inSection_ = false;
    bool decided_ = false;
    bool found_ = false;
    std::string value_;
};

// Turns UTF-16 LE text into UTF-8 piece by piece; a unit or a surrogate pair split between two
// pieces is carried over.
class Utf16LeDecoder {
public:
    // Appends the UTF-8 of the complete units in bytes to out; false at a NUL unit, which ends
    // the text.
    bool decode(const unsigned char* bytes, size_t n, std::string& out)
    {
        for (size_t i = 0; i < n; ++i) {
            if (!haveLowByte_) {
                lowByte_ = bytes[i];
                haveLowByte_ = true;
                continue;
            }
            haveLowByte_ = false;
            uint32_t unit = lowByte_ | (static_cast<uint32_t>(bytes[i]) << 8);
            if (unit == 0) {
                return false;
            }
            takeUnit(unit, out);
        }
        return true;
    }

    void finish(std::string& out)
    {
        if (highSurrogate_ != 0) {
            appendUtf8(ReplacementCharacter, out);
            highSurrogate_ = 0;
        }
    }

private:
    static constexpr uint32_t ReplacementCharacter = 0xFFFD;

    void takeUnit(uint32_t unit, std::string& out)
    {
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (highSurrogate_ != 0) {
                appendUtf8(ReplacementCharacter, out);
            }
            highSurrogate_ = unit;
            return;
        }
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            if (highSurrogate_ == 0) {
                appendUtf8(ReplacementCharacter, out);
                return;
            }
            uint32_t codePoint = 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (unit - 0xDC00);
            highSurrogate_ = 0;
            appendUtf8(codePoint, out);
            return;
        }
        if (highSurrogate_ != 0) {
            appendUtf8(ReplacementCharacter, out);
            highSurrogate_ = 0;
        }
        appendUtf8(unit, out);
    }

    static void appendUtf8(uint32_t cp, std::string& out)
    {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    unsigned char lowByte_ = 0;
    bool haveLowByte_ = false;
    uint32_t highSurrogate_ = 0;
};

bool startsWith(const unsigned char* bytes, size_t n, const unsigned char* prefix, size_t length)
{
    return n >= length && std::memcmp(bytes, prefix, length) == 0;
}

enum class Encoding { Ansi, Utf16Le, NotText };

enum class SearchResult { Found, NotFound, FileAbsent };

// Runs the search over the file. FileAbsent when the file can't be used as an INI file at all.
SearchResult searchFile(const std::string& path, KeySearch& search)
{
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error)) {
        return SearchResult::FileAbsent;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return SearchResult::FileAbsent;
    }

    std::string chunk(ReadChunkBytes, '\0');
    std::string decoded;
    Utf16LeDecoder utf16;
    Encoding encoding = Encoding::Ansi;
    bool first = true;
    bool textEnded = false;

    while (!textEnded) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        size_t n = static_cast<size_t>(in.gcount());
        if (in.bad()) {
            return SearchResult::FileAbsent;
        }
        if (n == 0) {
            break;
        }
        const auto* bytes = reinterpret_cast<const unsigned char*>(chunk.data());
        size_t skip = 0;
        if (first) {
            first = false;
            // The Win32 reader knows only the UTF-16 LE mark. A UTF-8 mark is read as text:
            // it spoils the first line, so a section header on that line is not recognised
            // (`Tarvo32 config` warns about it); sections further down read as usual.
            if (startsWith(bytes, n, Utf16LeBom, sizeof Utf16LeBom)) {
                skip = sizeof Utf16LeBom;
                encoding = Encoding::Utf16Le;
            } else if (startsWith(bytes, n, Utf16BeBom, sizeof Utf16BeBom)) {
                encoding = Encoding::NotText;  // not read by the Win32 reader either
            } else if (std::memchr(bytes, 0, n) != nullptr) {
                encoding = Encoding::NotText;
            }
            if (encoding == Encoding::NotText) {
                return SearchResult::FileAbsent;
            }
        }
        const char* text = chunk.data() + skip;
        size_t length = n - skip;
        if (encoding == Encoding::Utf16Le) {
            decoded.clear();
            textEnded = !utf16.decode(bytes + skip, length, decoded);
            text = decoded.data();
            length = decoded.size();
        } else if (const void* nul = std::memchr(text, 0, length)) {
            // A NUL past the first piece ends the text there, as a C string would.
            length = static_cast<size_t>(static_cast<const char*>(nul) - text);
            textEnded = true;
        }
        if (search.feed(text, length)) {
            return search.found() ? SearchResult::Found : SearchResult::NotFound;
        }
    }
    if (encoding == Encoding::Utf16Le) {
        decoded.clear();
        utf16.finish(decoded);
        search.feed(decoded.data(), decoded.size());
    }
    search.finish();
    return search.found() ? SearchResult::Found : SearchResult::NotFound;
}

}  // namespace

std::string getPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& path,
                                    size_t bufferSize)
{
    // The default keeps its leading blanks and loses its trailing spaces; a trailing tab stays.
    std::string fallback = cutToBuffer(trimTrailingSpaces(defaultValue), bufferSize);
    std::string_view wantedKey = trimSpaces(key);
    // An empty key or a comment's name can never be found.
    if (wantedKey.empty() || wantedKey.front() == ';') {
        return fallback;
    }
    KeySearch search(trimSpaces(section), wantedKey, bufferSize);
    if (searchFile(path, search) == SearchResult::Found) {
        return search.value();
    }
    return fallback;
}

bool profileFlag(const std::string& text)
{
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), asciiUpper);
    return upper.find("TRUE") != std::string::npos;
}

bool profileFileHasUtf8Mark(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char head[sizeof Utf8Bom] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    return in.gcount() == static_cast<std::streamsize>(sizeof head) && std::memcmp(head, Utf8Bom, sizeof head) == 0;
}
