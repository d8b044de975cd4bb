// SPDX-License-Identifier: GPL-3.0-or-later
#include "local_address.h"

#include <algorithm>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which it needs.
#include <iphlpapi.h>
#else
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace bridge {
namespace {

// An address as it lies in memory (network order) as its four bytes.
Address FromNetworkOrder(const void* inAddr) {
    Address a{};
    const auto* bytes = static_cast<const std::uint8_t*>(inAddr);
    std::copy_n(bytes, a.size(), a.begin());
    return a;
}

} // namespace

#ifdef _WIN32
std::vector<Address> OwnAddresses() {
    std::vector<Address> own;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // The list can grow between the two calls: ask again while it does.
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result =
            GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
                                 nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) return own;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
        for (auto* u = adapter->FirstUnicastAddress; u != nullptr; u = u->Next) {
            const sockaddr* sa = u->Address.lpSockaddr;
            if (sa == nullptr || sa->sa_family != AF_INET) continue;
            own.push_back(FromNetworkOrder(&reinterpret_cast<const sockaddr_in*>(sa)->sin_addr));
        }
    }
    return own;
}
#else
std::vector<Address> OwnAddresses() {
    std::vector<Address> own;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return own;
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        own.push_back(FromNetworkOrder(&reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr));
    }
    freeifaddrs(list);
    return own;
}
#endif

bool IsLocal(const Address& sender, std::span<const Address> own) {
    if (sender[0] == 127) return true;
    // 0.0.0.0 is no sender; an interface without an address may list it.
    if (sender == Address{}) return false;
    return std::find(own.begin(), own.end(), sender) != own.end();
}

} // namespace bridge
