#include "core/net/LinkExtraction.h"

#include <cstring>
#include <string_view>

#include "core/text/Ascii.h"
#include "core/text/CharSet.h"

namespace {

constexpr std::size_t kBufferSize = 50;  // terminator included

constexpr CCharSet kGapChars{"\"'\r\n\t "};
constexpr CCharSet kNameStopChars{"\"'\t ="};
constexpr CCharSet kAssignmentChars{" ="};

// First case-insensitive occurrence of `key` at or after `from`, or null.
const char* FindNoCase(const char* from, std::string_view key) {
    for (const char* at = std::strchr(from, key.front()); at != nullptr;
         at = std::strchr(at + 1, key.front())) {
        std::size_t i = 1;
        while (i < key.size() && at[i] != '\0' && AsciiLower(at[i]) == AsciiLower(key[i])) {
            ++i;
        }
        if (i == key.size()) {
            return at;
        }
    }
    return nullptr;
}

const char* Skip(const char* at, const CCharSet& set) {
    while (*at != '\0' && set.Contains(*at)) {
        ++at;
    }
    return at;
}

}  // namespace

bool FindNextLink(const char*& cursor, const char* tag, const char* attribute, std::string& value) {
    const std::string key = std::string("<") + tag + " ";
    if (key.size() + 1 > kBufferSize) {
        return false;
    }
    value.clear();
    if (cursor == nullptr) {
        return false;
    }
    const char* at = cursor;
    while (true) {  // one pass per occurrence of the key
        at = FindNoCase(at, key);
        if (at == nullptr) {
            return false;
        }
        at = Skip(at + key.size(), kGapChars);
        if (*at == '\0') {
            return false;
        }
        if (*at == '>') {
            continue;
        }
        while (true) {  // one pass per attribute of this tag
            const char* name = at;
            while (*at != '\0' && !kNameStopChars.Contains(*at)) {
                ++at;
            }
            const std::string_view nameText(name, static_cast<std::size_t>(at - name));
            if (nameText.size() >= kBufferSize) {
                at = name;
                break;
            }
            at = Skip(at, kAssignmentChars);
            if (*at == '\0') {
                return false;
            }
            const char* valueStart = at;
            const char* valueEnd = nullptr;
            if (*at == '"' || *at == '\'') {
                valueStart = at + 1;
                valueEnd = std::strchr(valueStart, *at);
                if (valueEnd == nullptr) {
                    valueEnd = valueStart + std::strlen(valueStart);
                }
            } else {
                valueEnd = valueStart + std::strcspn(valueStart, " >");
            }
            const auto length = static_cast<std::size_t>(valueEnd - valueStart);
            if (length >= kBufferSize) {
                at = valueStart;
                break;
            }
            at = valueEnd;
            if (EqualsNoCase(nameText, attribute)) {
                value.assign(valueStart, length);
                cursor = at;
                return true;
            }
            at = Skip(at, kGapChars);
            if (*at == '\0') {
                return false;
            }
            if (*at == '>') {
                break;
            }
        }
    }
}
