#include "common/MachineIdentity.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "common/Functions.h"

namespace velmora {

std::string FormatMacAddress(const HardwareAddress& a) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", a[0], a[1], a[2], a[3], a[4],
                  a[5]);
    return text;
}

std::string ChooseMacAddress(const std::vector<std::optional<HardwareAddress>>& interfaces) {
    static const std::string zero = "00-00-00-00-00-00";
    std::string text;
    std::size_t position = 0;
    do {
        if (position < interfaces.size() && interfaces[position])
            text = FormatMacAddress(*interfaces[position]);
        ++position;
    } while (position < interfaces.size() && text == zero);
    return text;
}

std::string GetMacAddress() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return "";
    // Link-layer entries by interface index, the order the kernel numbers them.
    std::map<int, std::optional<HardwareAddress>> byIndex;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_PACKET) continue;
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        std::optional<HardwareAddress> address;
        if (link->sll_halen >= 6) {
            HardwareAddress a;
            std::copy_n(link->sll_addr, 6, a.begin());
            address = a;
        }
        byIndex.emplace(link->sll_ifindex, address);
    }
    freeifaddrs(list);
    std::vector<std::optional<HardwareAddress>> interfaces;
    for (auto& [index, address] : byIndex) interfaces.push_back(address);
    return ChooseMacAddress(interfaces);
}

}  // namespace velmora
