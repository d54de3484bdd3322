#include "station/identity.h"

#include <cstdio>

namespace mz::station {

namespace {

// The code point starting at text[at] and its length in bytes; 0 bytes when the UTF-8 is broken
// (a stray continuation byte, a cut sequence, an overlong or surrogate form).
std::pair<char32_t, size_t> decode(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return {lead, 1};
    size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (lead >= 0xF5) length = 0;
    if (length == 0 || at + length > text.size()) return {0, 0};
    char32_t c = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return {0, 0};
        c = (c << 6) | (byte(at + i) & 0x3F);
    }
    const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < smallest[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return {0, 0};
    return {c, length};
}

}  // namespace

std::optional<std::string> checkIdentityText(const std::string& text, const std::string& what) {
    size_t characters = 0;
    for (size_t at = 0; at < text.size();) {
        const auto [c, length] = decode(text, at);
        if (length == 0)
            return what + " is not UTF-8 text (a broken byte sequence at byte " + std::to_string(at + 1) + ")";
        ++characters;
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
            return what + " holds a control character (" + code + ") at character " + std::to_string(characters) +
                   "; only printable text can be recorded";
        }
        at += length;
    }
    if (characters > kIdentityMaxCharacters) {
        return what + " is " + std::to_string(characters) + " characters long; at most " +
               std::to_string(kIdentityMaxCharacters) + " can be recorded";
    }
    if (!text.empty() && (text.front() == ' ' || text.back() == ' ')) {
        return what + " \"" + text + "\" starts or ends with a space";
    }
    return std::nullopt;
}

}  // namespace mz::station
