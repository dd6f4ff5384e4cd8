#include "core/text/CharSet.h"

#include <cstring>

bool GetNextToken(const char*& cursor, const CCharSet& set, std::string& token) {
    if (cursor == nullptr) {
        return false;
    }
    const char* start = cursor + std::strcspn(cursor, set.Chars());
    if (*start == '\0') {
        cursor = nullptr;
        return false;
    }
    const char* end = start + std::strspn(start, set.Chars());
    token.assign(start, end);
    cursor = *end == '\0' ? nullptr : end;
    return true;
}
