#pragma once
// The local host's address as GetLocalIP reports it.
#include <cstdint>
#include <string>

// Looks a host name up: 0 with the first IPv4 address (network order) in Address, or a failure result.
using THostLookup = int (*)(const char* Name, uint32_t& Address);

// What GetLocalIP answers when the local host's name cannot be looked up: the "any address", which no
// peer can connect to, so a caller can tell it from a real address instead of getting a wrong one.
inline constexpr const char* UnknownLocalIP = "0.0.0.0";

// The first address of HostName as "%d.%d.%d.%d", looked up with Lookup; UnknownLocalIP when the name
// cannot be looked up.
std::string LocalIPOf(const char* HostName, THostLookup Lookup);
