// The Win32 reader's rules (platform/profile_string.h), read from the file in bounded pieces.
#include "platform/profile_string.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <system_error>

#include "platform/ascii_case.h"
#include "platform/file_reading.h"

namespace platform {

namespace {

// The file is read in pieces so that neither a huge file nor a huge line costs more than a few
// pieces of memory.
constexpr size_t ReadChunkBytes = 64 * 1024;
constexpr unsigned char Utf16LeBom[] = {0xFF, 0xFE};
constexpr unsigned char Utf16BeBom[] = {0xFE, 0xFF};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v'; }

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

// One part of a line (a section name, a key name, a value) taken character by character with its
// surrounding blanks dropped, keeping at most `limit` characters of it: enough to compare it with
// a wanted name or to fill the caller's buffer. Its full length and last character are counted,
// so a line of any length reads by the same rules as a short one, in bounded memory.
class LinePart {
public:
    explicit LinePart(size_t limit) : limit_(limit) {}

    void reset()
    {
        kept_.clear();
        blanks_.clear();
        pendingBlanks_ = 0;
        length_ = 0;
        last_ = 0;
    }

    void add(char c)
    {
        if (isBlank(c)) {
            if (length_ == 0) {
                return;  // leading blanks never count
            }
            // Blanks count only once a character follows them: trailing ones are dropped.
            ++pendingBlanks_;
            if (kept_.size() + blanks_.size() < limit_) {
                blanks_.push_back(c);
            }
            return;
        }
        if (pendingBlanks_ != 0) {
            keep(blanks_);
            length_ += pendingBlanks_;
            pendingBlanks_ = 0;
            blanks_.clear();
        }
        if (kept_.size() < limit_) {
            kept_.push_back(c);
        }
        ++length_;
        last_ = c;
    }

    bool equalsName(std::string_view name) const { return length_ == name.size() && equalsNoCase(kept_, name); }

    // The value as the caller gets it: one pair of matching quotes around the whole of it goes,
    // then it is cut to the buffer.
    std::string value(size_t bufferSize) const
    {
        std::string_view kept(kept_);
        bool quoted = length_ >= 2 && (kept.front() == '"' || kept.front() == '\'') && last_ == kept.front();
        if (quoted) {
            kept = kept.substr(1, length_ - 2);
        }
        return cutToBuffer(kept, bufferSize);
    }

private:
    void keep(const std::string& text)
    {
        size_t room = limit_ - std::min(limit_, kept_.size());
        kept_.append(text, 0, std::min(room, text.size()));
    }

    size_t limit_;
    std::string kept_;
    std::string blanks_;
    size_t pendingBlanks_ = 0;
    size_t length_ = 0;
    char last_ = 0;
};

// Follows the file line by line looking for one key in the first section of one name, and
// stops as soon as the answer is known. Nothing of a line is kept beyond what the decision
// needs, so neither a huge file nor a huge line costs more than a few small buffers.
class KeySearch {
public:
    KeySearch(std::string_view section, std::string_view key, size_t bufferSize)
        : section_(section), key_(key), bufferSize_(bufferSize), header_(section.size() + 1),
          name_(key.size() + 1), value_(bufferSize + 1)
    {
    }

    // Takes text; true once the search is decided (found, or the section ended without it).
    bool feed(const char* text, size_t n)
    {
        for (size_t i = 0; i < n && !decided_; ++i) {
            char c = text[i];
            if (c == '\r' || c == '\n') {
                endLine();
            } else {
                take(c);
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
    const std::string& value() const { return result_; }

private:
    enum class Part { LineStart, Header, Name, Value, Ignored };

    void take(char c)
    {
        switch (part_) {
        case Part::LineStart:
            if (isBlank(c)) {
                return;
            }
            if (c == '[') {
                part_ = Part::Header;
                header_.reset();
            } else if (!inSection_ || c == ';') {
                part_ = Part::Ignored;  // outside the section, or a comment
            } else {
                part_ = Part::Name;
                name_.reset();
                takeName(c);
            }
            return;
        case Part::Header:
            if (c == ']') {
                endHeader();  // text after the first ']' is ignored
                part_ = Part::Ignored;
            } else {
                header_.add(c);
            }
            return;
        case Part::Name:
            takeName(c);
            return;
        case Part::Value:
            value_.add(c);
            return;
        case Part::Ignored:
            return;
        }
    }

    void takeName(char c)
    {
        if (c != '=') {
            name_.add(c);
            return;
        }
        if (name_.equalsName(key_)) {
            part_ = Part::Value;
            value_.reset();
        } else {
            part_ = Part::Ignored;
        }
    }

    void endHeader()
    {
        if (inSection_) {
            // A later section of the same name is never looked at, so the key is absent.
            decided_ = true;
            return;
        }
        inSection_ = header_.equalsName(section_);
    }

    void endLine()
    {
        if (part_ == Part::Header) {
            endHeader();  // a missing ']' ends the name at the line end
        } else if (part_ == Part::Value) {
            result_ = value_.value(bufferSize_);
            found_ = true;
            decided_ = true;
        }
        part_ = Part::LineStart;
    }

    std::string_view section_;
    std::string_view key_;
    size_t bufferSize_;
    LinePart header_;
    LinePart name_;
    LinePart value_;

    Part part_ = Part::LineStart;
    bool inSection_ = false;
    bool decided_ = false;
    bool found_ = false;
    std::string result_;
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
    // Anything but a regular file counts as absent, and is never waited for (a FIFO).
    InputFile in;
    if (in.open(path) != FileOpenResult::Opened) {
        return SearchResult::FileAbsent;
    }

    std::string chunk(ReadChunkBytes, '\0');
    std::string decoded;
    Utf16LeDecoder utf16;
    Encoding encoding = Encoding::Ansi;
    bool first = true;
    bool textEnded = false;

    while (!textEnded) {
        size_t n = static_cast<size_t>(in.read(chunk.data(), static_cast<int>(chunk.size())));
        if (in.failed()) {
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

bool profileFileReadable(const std::string& path)
{
    // A key no line can hold: the whole text is read, and only whether it could be says anything.
    KeySearch search("", "\n", 0);
    return searchFile(path, search) != SearchResult::FileAbsent;
}

}  // namespace platform
