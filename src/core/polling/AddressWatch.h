#pragma once

#include <string>

// What one read of the polled page means to someone who waits for the address to change.
enum class AddressEvent { None, Changed, Lost, Back };

// Follows the results of one polling session, each an address text or "n/a". The first address
// sets the baseline; a different one later is a change. "n/a" after an address is a loss, told
// once however long it lasts, and the next address is its return.
class CAddressWatch {
public:
    AddressEvent Feed(const std::string& result);

    // The address of the last read that gave one; empty before the first.
    const std::string& Address() const { return m_strAddress; }
    // The address before the last change or return.
    const std::string& Previous() const { return m_strPrevious; }

private:
    std::string m_strAddress;
    std::string m_strPrevious;
    bool m_bLost = false;
};
