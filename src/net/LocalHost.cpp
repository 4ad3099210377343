#include "net/LocalHost.h"

#include <cstdio>

std::string LocalIPOf(const char* HostName, THostLookup Lookup) {
    uint32_t Address = 0;
    if (Lookup(HostName, Address) != 0) return UnknownLocalIP;
    // Address is in network order: its first byte in memory is the first number of the text.
    const auto* Bytes = reinterpret_cast<const unsigned char*>(&Address);
    char Text[16];
    std::snprintf(Text, sizeof Text, "%d.%d.%d.%d", Bytes[0], Bytes[1], Bytes[2], Bytes[3]);
    return Text;
}
