#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// URLs of router pages, which are addressed by dotted address and port, never by name.

inline constexpr std::size_t kMaxUrlLength = 2047;

// "http://a.b.c.d:port" (with `bHttps` "https://…") followed by the path, copied unchanged ("/" is
// put in front of a path that lacks it). False, with `url` untouched, when the URL would exceed
// kMaxUrlLength.
bool ComposeRouterUrl(std::uint32_t address, std::uint16_t port, std::string_view path,
                      std::string& url, bool bHttps = false);

// Host (with %xx decoded) and port (80 when none is written, 443 for https) of an absolute URL,
// whatever bytes its path holds; both outputs are untouched on failure.
bool CrackUrlHost(const std::string& url, std::string& host, std::uint16_t& port);

// How names that are not dotted addresses are looked up (network order). Tests pass their own, so
// no lookup of theirs reaches a name server.
using HostLookup = std::function<bool(const std::string& name, std::uint32_t& address)>;

// The system resolver, IPv4 only.
bool SystemHostLookup(const std::string& name, std::uint32_t& address);

// A dotted address converts directly; anything else goes to `lookup` (the system resolver when
// empty). The address comes back in network order.
bool ResolveHost(const std::string& host, std::uint32_t* address, const HostLookup& lookup = {});
