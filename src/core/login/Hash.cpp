#include "core/login/Hash.h"

#include <openssl/evp.h>

namespace {

std::string HexDigest(const EVP_MD* algorithm, std::string_view data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &length, algorithm, nullptr) != 1) {
        return {};  // no answer the router could take: it refuses, as for a wrong password
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0x0F];
    }
    return hex;
}

}  // namespace

std::string Md5Hex(std::string_view data) {
    return HexDigest(EVP_md5(), data);
}

std::string Sha256Hex(std::string_view data) {
    return HexDigest(EVP_sha256(), data);
}
