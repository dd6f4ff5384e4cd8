#pragma once

#include <memory>
#include <string>

// Base64 (RFC 4648 alphabet) with MIME line breaks: a CR LF after every 76 characters.
class CBase64Encoder {
public:
    // False when the output buffer cannot be obtained; the text is then empty.
    bool Encode(const char* input);
    std::string GetText() const;
    void Release();

private:
    void Write(char c);

    std::unique_ptr<char[]> m_pBuffer;
    int m_nLength = 0;
    int m_nColumn = 0;
};
