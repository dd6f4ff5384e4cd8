#include "core/text/ShownText.h"

#include "core/text/Ascii.h"

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text` and its code point, or 0
// when the first byte starts none (a stray continuation byte, an overlong form, a surrogate, a
// value past U+10FFFF or a cut-short sequence).
std::size_t DecodeUtf8(std::string_view text, char32_t& code) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        least = 0x80;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        least = 0x800;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        least = 0x10000;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (next & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

bool IsUnsafeCodePoint(char32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x061C || code == 0x200E ||
           code == 0x200F || (code >= 0x2028 && code <= 0x202E) ||
           (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

std::string EscapeUnsafeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendEscapedUnsafeText(out, text);
    return out;
}

void AppendEscapedUnsafeText(std::string& out, std::string_view text) {
    while (!text.empty()) {
        // Printable ASCII, nearly all that routers send, goes over in runs.
        std::size_t plain = 0;
        while (plain + 8 <= text.size()) {
            const std::uint64_t word = WordAt(text.data() + plain);
            if (AnyByteBelow(word, 0x20) || AnyByteIs(word, 0x7F) || (word & kHighBits) != 0) {
                break;
            }
            plain += 8;
        }
        while (plain < text.size() && text[plain] >= 0x20 && text[plain] < 0x7F) {
            ++plain;
        }
        out.append(text.substr(0, plain));
        text.remove_prefix(plain);
        if (text.empty()) {
            return;
        }
        char32_t code = 0;
        const std::size_t length = DecodeUtf8(text, code);
        if (length == 0 || IsUnsafeCodePoint(code)) {
            const std::size_t bad = length == 0 ? 1 : length;
            for (std::size_t i = 0; i < bad; ++i) {
                AppendPercentEscaped(out, static_cast<unsigned char>(text[i]));
            }
            text.remove_prefix(bad);
        } else {
            out.append(text.substr(0, length));
            text.remove_prefix(length);
        }
    }
}
