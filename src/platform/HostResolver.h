#pragma once
// IPv4 name look-up shared by the blocking and the background look-up.
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct HostAddresses {
    std::vector<uint32_t> Addresses; // network order, in the resolver's order, without repeats
    int Error = 0;                   // an error number of Sockets.h; 0 when Addresses is not empty
};

// Names under "invalid" fail and names under "localhost" give 127.0.0.1 without asking anyone, and the
// machine's own host name gives the addresses of its interfaces, so none of them ever reaches a name
// server. Everything else goes through getaddrinfo.
HostAddresses ResolveHost(const std::string& Name);

// The host entry for a look-up buffer of Capacity bytes: the header and as many addresses as fit.
// Empty when not even one address fits.
std::vector<char> BuildHostEntry(const std::vector<uint32_t>& Addresses, int Capacity);

} // namespace platform
