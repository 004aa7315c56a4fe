// Text from outside (a file's line, a registry value, a file name) made safe to print on one line
// of a terminal or a log: control characters (line feeds included), DEL and the C1 controls
// (UTF-8 C2 80..C2 9F) become \xNN, so nothing printed can end a line early or steer a terminal;
// every other byte is kept. Optionally cut to a number of input bytes, with "..." after the cut.
// Thread rule: pure functions.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

constexpr size_t ShownWhole = static_cast<size_t>(-1);
constexpr const char* ShownCutMark = "...";

inline std::string shownText(std::string_view text, size_t maxBytes = ShownWhole)
{
    constexpr unsigned char Delete = 0x7F;
    constexpr unsigned char C1Lead = 0xC2;
    constexpr unsigned char C1First = 0x80;
    constexpr unsigned char C1Last = 0x9F;
    const bool cut = text.size() > maxBytes;
    if (cut) {
        text = text.substr(0, maxBytes);
    }
    std::string out;
    auto escape = [&out](unsigned char byte) {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02x", byte);
        out += hex;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (byte < 0x20 || byte == Delete) {
            escape(byte);
        } else if (byte == C1Lead && next >= C1First && next <= C1Last) {
            escape(byte);
            escape(next);
            ++i;
        } else {
            out += static_cast<char>(byte);
        }
    }
    if (cut) {
        out += ShownCutMark;
    }
    return out;
}

// True when the text holds a control character (or DEL): such a name is not one a person gave.
inline bool hasControlCharacter(std::string_view text)
{
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

}  // namespace platform
