#include "core/net/Base64Encoder.h"

#include <cstring>
#include <new>

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kLineLength = 76;
}  // namespace

bool CBase64Encoder::Encode(const char* input) {
    const std::size_t n = std::strlen(input);
    const std::size_t chars = 4 * ((n + 2) / 3);
    const std::size_t size = chars + 2 * (chars / kLineLength) + 1;
    m_pBuffer.reset(new (std::nothrow) char[size]);
    m_nLength = 0;
    m_nColumn = 0;
    if (!m_pBuffer) {
        return false;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(input);
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const unsigned v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
        Write(kAlphabet[(v >> 18) & 63]);
        Write(kAlphabet[(v >> 12) & 63]);
        Write(kAlphabet[(v >> 6) & 63]);
        Write(kAlphabet[v & 63]);
    }
    if (n - i == 1) {
        const unsigned v = in[i] << 16;
        Write(kAlphabet[(v >> 18) & 63]);
        Write(kAlphabet[(v >> 12) & 63]);
        Write('=');
        Write('=');
    } else if (n - i == 2) {
        const unsigned v = (in[i] << 16) | (in[i + 1] << 8);
        Write(kAlphabet[(v >> 18) & 63]);
        Write(kAlphabet[(v >> 12) & 63]);
        Write(kAlphabet[(v >> 6) & 63]);
        Write('=');
    }
    Write('\0');
    return true;
}

void CBase64Encoder::Write(char c) {
    if (m_nColumn == kLineLength) {
        m_pBuffer[m_nLength++] = '\r';
        m_pBuffer[m_nLength++] = '\n';
        m_nColumn = 0;
    }
    m_pBuffer[m_nLength++] = c;
    ++m_nColumn;
}

std::string CBase64Encoder::GetText() const {
    return m_pBuffer ? std::string(m_pBuffer.get()) : std::string();
}

void CBase64Encoder::Release() {
    m_pBuffer.reset();
    m_nLength = 0;
    m_nColumn = 0;
}
