#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "core/net/AbortSignal.h"
#include "core/net/RouterUrl.h"

// The host names met in one run's links. Each is looked up once and the answer kept for the run;
// a lookup gives up after `limit`, and a set abort signal ends the wait at once. All lookups
// together get `budget`: once it is spent, names not known yet are skipped unresolved, without a
// lookup, so that a page full of dead names cannot hold the run for `limit` each. The resolver
// itself cannot be interrupted, so it runs on a helper thread of its own whose late answer is
// dropped.
class CHostNames {
public:
    // An empty `lookup` is the system resolver.
    CHostNames(HostLookup lookup, std::chrono::milliseconds limit, std::chrono::milliseconds budget,
               CAbortSignal abort);

    // A HostLookup: true with the address (network order) when the name resolved in time.
    bool Lookup(const std::string& name, std::uint32_t& address);
    // Whether the answer for `name` is kept already, so that Lookup will not wait.
    bool IsKnown(const std::string& name) const { return m_known.contains(name); }
    // How many names were skipped because the budget was spent.
    std::size_t Skipped() const { return m_nSkipped; }

private:
    struct Known {
        bool bFound = false;
        std::uint32_t address = 0;
    };

    HostLookup m_lookup;
    std::chrono::milliseconds m_limit;
    std::chrono::milliseconds m_budget;
    std::chrono::steady_clock::duration m_spent{};
    std::size_t m_nSkipped = 0;
    CAbortSignal m_abort;
    std::unordered_map<std::string, Known> m_known;
};
