#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// URLs of router pages, which are addressed by dotted address and port, never by name.

inline constexpr std::size_t kMaxUrlLength = 2047;

// "http://a.b.c.d:port" followed by the path, copied unchanged ("/" is put in front of a path that
// lacks it). False, with `url` untouched, when the URL would exceed kMaxUrlLength.
bool ComposeRouterUrl(std::uint32_t address, std::uint16_t port, std::string_view path,
                      std::string& url);

// Host (with %xx decoded) and port (80 when none is written) of an absolute URL; both outputs are
// untouched on failure.
bool CrackUrlHost(const std::string& url, std::string& host, std::uint16_t& port);

// A dotted address converts directly; anything else is looked up as an IPv4 host name. The
// address comes back in network order.
bool ResolveHost(const std::string& host, std::uint32_t* address);

// How ResolveHost looks up names that are not dotted addresses: the system resolver, unless
// replaced (tests keep every lookup off the network). An empty function restores the resolver.
using HostLookup = std::function<bool(const std::string& name, std::uint32_t& address)>;
void SetHostLookup(HostLookup lookup);
