#include "upload/json_line.h"

#include <cstdio>
#include <cstdint>

namespace {

class Reader {
public:
    explicit Reader(const std::string& text) : text_(text) {}

    void skipBlanks()
    {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r')) {
            ++pos_;
        }
    }
    bool take(char c)
    {
        skipBlanks();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool atEnd()
    {
        skipBlanks();
        return pos_ == text_.size();
    }
    char peek()
    {
        skipBlanks();
        return pos_ < text_.size() ? text_[pos_] : '\0';
    }

    bool string(std::string& out)
    {
        out.clear();
        if (!take('"')) {
            return false;
        }
        while (pos_ < text_.size()) {
            char c = text_[pos_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) {
                return false;
            }
            char e = text_[pos_++];
            switch (e) {
            case '"':
            case '\\':
            case '/': out += e; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t code = 0;
                if (!hex4(code)) {
                    return false;
                }
                appendCode(out, code);
                break;
            }
            default: return false;
            }
        }
        return false;
    }

    bool value(JsonValue& out)
    {
        char c = peek();
        if (c == '"') {
            out.kind = JsonValue::Kind::String;
            return string(out.text);
        }
        if (word("true")) {
            out.kind = JsonValue::Kind::True;
            return true;
        }
        if (word("false")) {
            out.kind = JsonValue::Kind::False;
            return true;
        }
        if (word("null")) {
            out.kind = JsonValue::Kind::Null;
            return true;
        }
        out.kind = JsonValue::Kind::Number;
        out.text.clear();
        while (pos_ < text_.size() && std::string("+-.eE0123456789").find(text_[pos_]) != std::string::npos) {
            out.text += text_[pos_++];
        }
        return !out.text.empty();
    }

private:
    bool word(const char* w)
    {
        std::string s(w);
        if (text_.compare(pos_, s.size(), s) == 0) {
            pos_ += s.size();
            return true;
        }
        return false;
    }

    bool hex4(uint32_t& code)
    {
        if (pos_ + 4 > text_.size()) {
            return false;
        }
        for (int i = 0; i < 4; ++i) {
            char h = text_[pos_++];
            code <<= 4;
            if (h >= '0' && h <= '9') {
                code |= static_cast<uint32_t>(h - '0');
            } else if (h >= 'a' && h <= 'f') {
                code |= static_cast<uint32_t>(h - 'a' + 10);
            } else if (h >= 'A' && h <= 'F') {
                code |= static_cast<uint32_t>(h - 'A' + 10);
            } else {
                return false;
            }
        }
        return true;
    }

    // \u0000 to \u00FF are the bytes jsonQuoted wrote; anything higher (from another writer)
    // becomes its UTF-8.
    static void appendCode(std::string& out, uint32_t code)
    {
        if (code < 0x100) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    const std::string& text_;
    size_t pos_ = 0;
};

}  // namespace

std::string jsonQuoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

bool parseFlatObject(const std::string& line, JsonObject& fields)
{
    fields.clear();
    Reader in(line);
    if (!in.take('{')) {
        return false;
    }
    if (in.take('}')) {
        return in.atEnd();
    }
    for (;;) {
        std::string name;
        JsonValue value;
        if (!in.string(name) || !in.take(':') || !in.value(value)) {
            return false;
        }
        fields[name] = std::move(value);
        if (in.take('}')) {
            return in.atEnd();
        }
        if (!in.take(',')) {
            return false;
        }
    }
}
