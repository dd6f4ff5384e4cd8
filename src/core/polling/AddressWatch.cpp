#include "core/polling/AddressWatch.h"

AddressEvent CAddressWatch::Feed(const std::string& result) {
    if (result == "n/a") {
        if (m_strAddress.empty() || m_bLost) {
            return AddressEvent::None;
        }
        m_bLost = true;
        return AddressEvent::Lost;
    }
    if (m_strAddress.empty()) {
        m_strAddress = result;
        return AddressEvent::None;
    }
    const bool bWasLost = m_bLost;
    m_bLost = false;
    if (!bWasLost && result == m_strAddress) {
        return AddressEvent::None;
    }
    m_strPrevious = m_strAddress;
    m_strAddress = result;
    return bWasLost ? AddressEvent::Back : AddressEvent::Changed;
}
