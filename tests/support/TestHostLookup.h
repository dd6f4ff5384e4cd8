#pragma once

#include <arpa/inet.h>

#include "core/net/RouterUrl.h"

// Router pages link to outside sites; their names must never reach a name server from a test.
// Only "localhost" resolves.
inline HostLookup TestHostLookup() {
    return [](const std::string& name, std::uint32_t& address) {
        if (name != "localhost") {
            return false;
        }
        address = htonl(0x7F000001);
        return true;
    };
}
