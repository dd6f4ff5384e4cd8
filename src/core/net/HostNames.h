#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "core/net/AbortSignal.h"
#include "core/net/RouterUrl.h"

// The host names met in one run's links. Each is looked up once and the answer kept for the run;
// a lookup gives up after `limit`, and a set abort signal ends the wait at once. The resolver
// itself cannot be interrupted, so it runs on a helper thread of its own whose late answer is
// dropped.
class CHostNames {
public:
    // An empty `lookup` is the system resolver.
    CHostNames(HostLookup lookup, std::chrono::milliseconds limit, CAbortSignal abort);

    // A HostLookup: true with the address (network order) when the name resolved in time.
    bool Lookup(const std::string& name, std::uint32_t& address);
    // Whether the answer for `name` is kept already, so that Lookup will not wait.
    bool IsKnown(const std::string& name) const { return m_known.contains(name); }

private:
    struct Known {
        bool bFound = false;
        std::uint32_t address = 0;
    };

    HostLookup m_lookup;
    std::chrono::milliseconds m_limit;
    CAbortSignal m_abort;
    std::unordered_map<std::string, Known> m_known;
};
