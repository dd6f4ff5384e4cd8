#pragma once

#include <string>
#include <string_view>

// The digests that Digest access authentication computes, as lower-case hexadecimal text.
std::string Md5Hex(std::string_view data);
std::string Sha256Hex(std::string_view data);
