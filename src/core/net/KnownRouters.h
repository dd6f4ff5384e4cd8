#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/net/ServerKey.h"

// The keys of the https routers the user trusts, in one file that both front ends share: a line
// per router, "A.B.C.D:PORT sha256//BASE64", blank lines and lines starting with "#" ignored. It
// holds keys only, never a login or a password, and is written whole each time, private (0600):
// a new file renamed over the old one, so a half-written list never stands.

inline constexpr std::size_t kMaxKnownRoutersBytes = 1024 * 1024;

// $XDG_CONFIG_HOME/velmo/known-routers, or ~/.config/velmo/known-routers; empty when neither is
// known.
std::string KnownRoutersFilePath();

// "A.B.C.D:PORT", as a line of the file names the router.
std::string KnownRouterName(std::uint32_t address, std::uint16_t port);

// The pin remembered for the router, or the empty text (no line for it, no file); nullopt, with
// `error`, when the file is there and cannot be read.
std::optional<std::string> RememberedPin(const std::string& path, std::uint32_t address,
                                         std::uint16_t port, std::string& error);

// Each router of the file, "A.B.C.D:PORT", with its pin, in the file's order; none when the file
// is not there or cannot be read.
std::vector<std::pair<std::string, std::string>> KnownRouterKeys(const std::string& path);

// Adds the router's line, keeping the others as they stand; false with `error` when the file
// cannot be written or when a key is remembered for the router already: a new key never replaces
// a remembered one, ForgetRouterKey must remove it first.
bool RememberRouterKey(const std::string& path, std::uint32_t address, std::uint16_t port,
                       const std::string& pin, std::string& error);

// Removes the router's line; false with `error` when the file cannot be written. `bRemoved` tells
// whether there was one.
bool ForgetRouterKey(const std::string& path, std::uint32_t address, std::uint16_t port,
                     bool& bRemoved, std::string& error);

// A key a run would not use: one not known yet, or one that is not the remembered one.
struct KeyRefusal {
    std::uint32_t address = 0;  // host order
    std::uint16_t port = 0;
    ServerKey shown{};         // what the router showed
    std::string remembered{};  // the pin remembered for it; empty when there was none
    bool Changed() const { return !remembered.empty(); }
};

// The trust of one run or polling session in the keys of its router, and of nothing else: https
// to another host is never trusted. Keys come from the known-routers file, read once for each port
// of the router; with `bTrustNew` a key not known yet is trusted and remembered (written to the
// file), else it is refused. A remembered key is never replaced.
class CRouterTrust final : public ITlsTrust {
public:
    // `file` empty: nothing is remembered, and nothing is known but what this session trusts.
    CRouterTrust(std::string file, std::uint32_t address, bool bTrustNew);

    std::string KnownPin(const std::string& host, std::uint16_t port) override;
    bool TrustNewKey(const std::string& host, std::uint16_t port, const ServerKey& key) override;
    void KeyChanged(const std::string& host, std::uint16_t port, const ServerKey& key,
                    const std::string& pin) override;

    // The key refused last, not known or changed, and the key trusted new; empty pins when none
    // was met.
    const KeyRefusal& Refused() const { return m_refused; }
    const KeyRefusal& TrustedNew() const { return m_trusted; }
    // Why a key trusted new could not be remembered; empty when it was, or none was.
    const std::string& RememberFailure() const { return m_strRememberFailure; }

private:
    bool IsRouter(const std::string& host) const;

    std::string m_strFile;
    std::uint32_t m_nAddress;
    bool m_bTrustNew;
    std::uint16_t m_nPort = 0;  // whose pin is in m_strPin
    std::string m_strPin;
    std::string m_strUnreadable;  // why the file could not be read for m_nPort; empty: it could
    KeyRefusal m_refused;
    KeyRefusal m_trusted;
    std::string m_strRememberFailure;
};
