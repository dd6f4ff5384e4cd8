// FindNextLink over arbitrary page text, walked link by link as the crawl walks it.
//
// Input: byte 0 picks the tag and attribute (one of the crawl's, or, with the high bit set, the
// first line of the rest spelled as "tag attribute"); the remaining bytes are the page. The page
// lives in a heap block that ends right at its NUL terminator, so AddressSanitizer reports any read
// past it.
//
// Invariants: every found value is the text just before the new cursor, under 50 characters, cut
// as the scanner promises (quoted: up to the same quote or the end; bare: up to a space or ">"),
// with the attribute's name in front of it and "<tag " between the old cursor and that name; the
// cursor only moves forward and stays within the page, so the walk ends after at most one step per
// byte; a miss leaves the cursor alone and the value empty (untouched for a tag of 48 characters or
// more).

#include <memory>

#include "FuzzCheck.h"
#include "core/net/LinkExtraction.h"

namespace {

struct LinkTag {
    const char* tag;
    const char* attribute;
};
constexpr LinkTag kLinkTags[] = {
    {"a", "href"}, {"frame", "src"}, {"form", "action"}, {"iframe", "src"}};

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool ContainsNoCase(std::string_view text, std::string_view key) {
    for (std::size_t at = 0; at + key.size() <= text.size(); ++at) {
        if (EqualsNoCase(text.substr(at, key.size()), key)) {
            return true;
        }
    }
    return false;
}

constexpr std::string_view kGapChars{"\"'\r\n\t "};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::string_view rest = AsText(data + 1, size - 1);
    std::string tag = kLinkTags[data[0] % std::size(kLinkTags)].tag;
    std::string attribute = kLinkTags[data[0] % std::size(kLinkTags)].attribute;
    if ((data[0] & 0x80) != 0) {
        const std::size_t newline = rest.find('\n');
        const std::string_view line = rest.substr(0, newline);
        rest = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
        const std::size_t space = line.find(' ');
        tag = UpToNul(line.substr(0, space));
        attribute = space == std::string_view::npos ? "" : UpToNul(line.substr(space + 1));
    }

    const std::string_view text = UpToNul(rest);
    const std::size_t length = text.size();
    const std::unique_ptr<char[]> block(new char[length + 1]);
    text.copy(block.get(), length);
    block[length] = '\0';
    const char* const page = block.get();
    const std::string key = "<" + tag + " ";
    const bool bTagTooLong = key.size() + 1 > 50;

    const char* cursor = page;
    std::string value = "untouched";
    std::size_t steps = 0;
    while (true) {
        const char* const before = cursor;
        const std::string previous = value;
        if (!FindNextLink(cursor, tag.c_str(), attribute.c_str(), value)) {
            FUZZ_CHECK(cursor == before);
            FUZZ_CHECK(bTagTooLong ? value == previous : value.empty());
            break;
        }
        FUZZ_CHECK(!bTagTooLong);
        FUZZ_CHECK(++steps <= length);
        FUZZ_CHECK(cursor > before && cursor <= page + length);
        FUZZ_CHECK(value.size() < 50);
        FUZZ_CHECK(static_cast<std::size_t>(cursor - before) >= value.size() + key.size());
        const char* const valueStart = cursor - value.size();
        FUZZ_CHECK(std::string_view(valueStart, value.size()) == value);

        const char open = valueStart[-1];
        const char* nameEnd = valueStart;
        if (open == '"' || open == '\'') {
            FUZZ_CHECK(*cursor == open || *cursor == '\0');
            FUZZ_CHECK(value.find(open) == std::string::npos);
            --nameEnd;
        } else {
            FUZZ_CHECK(*cursor == ' ' || *cursor == '>' || *cursor == '\0');
            FUZZ_CHECK(value.find_first_of(" >") == std::string::npos);
        }
        if (!attribute.empty()) {
            while (nameEnd > before && (nameEnd[-1] == ' ' || nameEnd[-1] == '=')) {
                --nameEnd;
            }
            const std::size_t nameLength = attribute.size();
            FUZZ_CHECK(static_cast<std::size_t>(nameEnd - before) > nameLength);
            const char* const name = nameEnd - nameLength;
            FUZZ_CHECK(EqualsNoCase(std::string_view(name, nameLength), attribute));
            FUZZ_CHECK(kGapChars.find(name[-1]) != std::string_view::npos);
            FUZZ_CHECK(ContainsNoCase(
                std::string_view(before, static_cast<std::size_t>(name - before)), key));
        }
    }
    return 0;
}
