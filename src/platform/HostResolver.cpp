#include "platform/HostResolver.h"

#include "platform/Sockets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstring>
#include <ifaddrs.h>
#include <memory>
#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

namespace platform {

namespace {

std::string Normalised(const std::string& Name) {
    std::string Result = Name;
    std::transform(Result.begin(), Result.end(), Result.begin(),
                   [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
    if (!Result.empty() && Result.back() == '.') Result.pop_back();
    return Result;
}

bool IsUnder(const std::string& Name, const std::string& Domain) {
    return Name == Domain || (Name.size() > Domain.size() &&
                              Name.compare(Name.size() - Domain.size(), Domain.size(), Domain) == 0 &&
                              Name[Name.size() - Domain.size() - 1] == '.');
}

std::string LocalHostName() {
    char Buffer[256] = {};
    if (::gethostname(Buffer, sizeof Buffer - 1) != 0) return {};
    return Normalised(Buffer);
}

void AddUnique(std::vector<uint32_t>& Addresses, uint32_t Address) {
    if (std::find(Addresses.begin(), Addresses.end(), Address) == Addresses.end())
        Addresses.push_back(Address);
}

// The addresses of the interfaces that are up, outward ones first, loopback last.
HostAddresses InterfaceAddresses() {
    HostAddresses Result;
    ifaddrs* List = nullptr;
    if (::getifaddrs(&List) == 0) {
        const std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> Owner(List, &::freeifaddrs);
        std::vector<uint32_t> Loopback;
        for (const ifaddrs* It = List; It; It = It->ifa_next) {
            if (!It->ifa_addr || It->ifa_addr->sa_family != AF_INET || !(It->ifa_flags & IFF_UP)) continue;
            const uint32_t Address = reinterpret_cast<const sockaddr_in*>(It->ifa_addr)->sin_addr.s_addr;
            AddUnique(It->ifa_flags & IFF_LOOPBACK ? Loopback : Result.Addresses, Address);
        }
        for (uint32_t Address : Loopback) AddUnique(Result.Addresses, Address);
    }
    if (Result.Addresses.empty()) Result.Addresses.push_back(htonl(INADDR_LOOPBACK));
    return Result;
}

} // namespace

HostAddresses ResolveHost(const std::string& Name) {
    HostAddresses Result;
    const std::string Key = Normalised(Name);
    if (Key.empty() || IsUnder(Key, "invalid")) {
        Result.Error = WSAHOST_NOT_FOUND;
        return Result;
    }
    if (IsUnder(Key, "localhost")) {
        Result.Addresses.push_back(htonl(INADDR_LOOPBACK));
        return Result;
    }
    if (Key == LocalHostName()) return InterfaceAddresses();

    addrinfo Hints{};
    Hints.ai_family = AF_INET;
    Hints.ai_socktype = SOCK_STREAM;
    addrinfo* List = nullptr;
    const int Code = ::getaddrinfo(Name.c_str(), nullptr, &Hints, &List);
    if (Code != 0) {
        Result.Error = ErrorFromResolver(Code);
        return Result;
    }
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> Owner(List, &::freeaddrinfo);
    for (const addrinfo* It = List; It; It = It->ai_next)
        if (It->ai_family == AF_INET)
            AddUnique(Result.Addresses, reinterpret_cast<const sockaddr_in*>(It->ai_addr)->sin_addr.s_addr);
    if (Result.Addresses.empty()) Result.Error = WSANO_DATA;
    return Result;
}

std::vector<char> BuildHostEntry(const std::vector<uint32_t>& Addresses, int Capacity) {
    const size_t Room = Capacity > static_cast<int>(sizeof(HostEntryHeader))
                            ? (static_cast<size_t>(Capacity) - sizeof(HostEntryHeader)) / sizeof(uint32_t)
                            : 0;
    const size_t Count = std::min({Addresses.size(), Room, size_t{0xFFFF}});
    if (Count == 0) return {};
    std::vector<char> Entry(sizeof(HostEntryHeader) + Count * sizeof(uint32_t));
    const HostEntryHeader Header{AF_INET, sizeof(uint32_t), static_cast<uint16_t>(Count), 0};
    std::memcpy(Entry.data(), &Header, sizeof Header);
    std::memcpy(Entry.data() + sizeof Header, Addresses.data(), Count * sizeof(uint32_t));
    return Entry;
}

} // namespace platform
