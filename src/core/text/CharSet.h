#pragma once

#include <array>
#include <string>

// A set of ASCII token characters, tested by table lookup.
class CCharSet {
public:
    // `chars` must be a NUL-terminated literal: the runs are cut with strspn and strcspn.
    constexpr explicit CCharSet(const char* chars) : m_chars(chars) {
        for (const char* c = chars; *c != '\0'; ++c) {
            m_bits[static_cast<unsigned char>(*c)] = true;
        }
    }
    constexpr bool Contains(char c) const { return m_bits[static_cast<unsigned char>(c)]; }
    constexpr const char* Chars() const { return m_chars; }

private:
    const char* m_chars;
    std::array<bool, 256> m_bits{};
};

// Cuts the next run of `set` characters out of the NUL-terminated text at `cursor`. A null cursor
// means the text is used up; the cursor becomes null when the run reaches the end. `token` is left
// alone when the answer is false.
bool GetNextToken(const char*& cursor, const CCharSet& set, std::string& token);
