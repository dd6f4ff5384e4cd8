#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// Shared by the fuzz targets: a broken invariant prints what broke and traps, so libFuzzer saves
// the input as a crash.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            __builtin_trap();                                                                      \
        }                                                                                          \
    } while (false)

// The input as text, bytes unchanged (NULs included).
inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// What a C string holding `text` reads: everything before its first NUL.
inline std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// "a.b.c.d" of a host-order address, written independently of the engine's own formatting.
inline std::string Dotted(std::uint32_t host) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", host >> 24, (host >> 16) & 0xFF,
                  (host >> 8) & 0xFF, host & 0xFF);
    return text;
}

// Big-endian 32-bit value from four input bytes.
inline std::uint32_t ReadHost(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | bytes[3];
}
