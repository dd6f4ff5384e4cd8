#include "core/net/HostNames.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

constexpr auto kAbortCheck = std::chrono::milliseconds(20);

// Shared by the waiting run and the helper thread, which may outlive the run.
struct PendingLookup {
    std::mutex mutex;
    std::condition_variable answered;
    bool bDone = false;
    bool bFound = false;
    std::uint32_t address = 0;
};

}  // namespace

CHostNames::CHostNames(HostLookup lookup, std::chrono::milliseconds limit,
                       std::chrono::milliseconds budget, CAbortSignal abort)
    : m_lookup(lookup ? std::move(lookup) : HostLookup(&SystemHostLookup)),
      m_limit(limit),
      m_budget(budget),
      m_abort(abort) {}

bool CHostNames::Lookup(const std::string& name, std::uint32_t& address) {
    if (const auto found = m_known.find(name); found != m_known.end()) {
        if (found->second.bFound) {
            address = found->second.address;
        }
        return found->second.bFound;
    }
    if (m_spent >= m_budget) {
        m_known.emplace(name, Known{});
        ++m_nSkipped;
        return false;
    }
    auto pending = std::make_shared<PendingLookup>();
    try {
        std::thread([pending, lookup = m_lookup, name] {
            std::uint32_t value = 0;
            const bool bFound = lookup(name, value);
            std::lock_guard lock(pending->mutex);
            pending->bDone = true;
            pending->bFound = bFound;
            pending->address = value;
            pending->answered.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        m_known.emplace(name, Known{});
        return false;
    }
    const auto start = std::chrono::steady_clock::now();
    const auto deadline =
        start + std::min<std::chrono::steady_clock::duration>(m_limit, m_budget - m_spent);
    std::unique_lock lock(pending->mutex);
    while (!pending->bDone) {
        if (m_abort.IsSet()) {
            return false;  // the run is ending: nothing to remember
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            break;
        }
        pending->answered.wait_for(
            lock, std::min<std::chrono::steady_clock::duration>(kAbortCheck, deadline - now));
    }
    m_spent += std::chrono::steady_clock::now() - start;
    const Known known{pending->bDone && pending->bFound, pending->address};
    m_known.emplace(name, known);
    if (known.bFound) {
        address = known.address;
    }
    return known.bFound;
}
