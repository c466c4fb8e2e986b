#include "core/system/system_info.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <sys/utsname.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string_view>
#include <utility>

namespace fs = std::filesystem;

namespace {

// ---- system version -------------------------------------------------------

struct SystemVersionOverride {
    std::optional<bool> is64Bit;
    std::optional<bool> isWindows10OrGreater;
};

// Guards systemVersionOverride().
std::mutex& systemVersionOverrideMutex() {
    static std::mutex mutex;
    return mutex;
}

SystemVersionOverride& systemVersionOverride() {
    static SystemVersionOverride instance;
    return instance;
}

SystemVersionOverride currentSystemVersionOverride() {
    const std::lock_guard<std::mutex> lock(systemVersionOverrideMutex());
    return systemVersionOverride();
}

bool kernelIs64Bit() {
    static const bool is64Bit = [] {
        utsname names{};
        if (uname(&names) != 0) return false;
        const std::string_view machine(names.machine);
        return machine == "x86_64" || machine == "aarch64";
    }();
    return is64Bit;
}

// ---- local adapters -------------------------------------------------------

// Guards injectedAdapters().
std::mutex& injectedAdaptersMutex() {
    static std::mutex mutex;
    return mutex;
}

std::optional<std::vector<LocalAdapter>>& injectedAdapters() {
    static std::optional<std::vector<LocalAdapter>> adapters;
    return adapters;
}

std::vector<LocalAdapter> withoutUnusableAddresses(std::vector<LocalAdapter> adapters) {
    std::vector<LocalAdapter> usable;
    usable.reserve(adapters.size());
    for (LocalAdapter& adapter : adapters) {
        if (adapter.ipAddress == "0.0.0.0" || adapter.ipAddress == "127.0.0.1") continue;
        usable.push_back(std::move(adapter));
    }
    return usable;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool pathExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

system_info_detail::InterfaceTraits readInterfaceTraits(const std::string& name) {
    system_info_detail::InterfaceTraits traits;
    const fs::path sysfs = fs::path("/sys/class/net") / name;
    std::error_code error;
    const fs::path resolved = fs::canonical(sysfs, error);
    if (error) return traits;  // no sysfs entry (e.g. another namespace's view)
    traits.resolvedSysfsPath = resolved.string();
    std::ifstream typeFile(sysfs / "type");
    if (!(typeFile >> traits.hardwareType)) traits.hardwareType = -1;
    traits.wireless = pathExists(sysfs / "wireless") || pathExists(sysfs / "phy80211");
    traits.bridge = pathExists(sysfs / "bridge");
    return traits;
}

bool folderHasLeaseFor(const fs::path& folder, const std::string& interfaceName) {
    std::error_code error;
    fs::directory_iterator entry(folder, error);
    if (error) return false;
    for (; entry != fs::directory_iterator(); entry.increment(error)) {
        if (error) return false;
        if (system_info_detail::IsLeaseFileName(entry->path().filename().string(), interfaceName)) {
            return true;
        }
    }
    return false;
}

bool hasDhcpLease(const std::string& interfaceName) {
    const unsigned index = if_nametoindex(interfaceName.c_str());
    if (index != 0 && pathExists(fs::path("/run/systemd/netif/leases") / std::to_string(index))) return true;

    std::vector<fs::path> folders = {"/var/lib/dhclient", "/run/dhcpcd", "/var/lib/NetworkManager",
                                     "/run/NetworkManager"};
    std::error_code error;
    fs::directory_iterator entry("/var/lib", error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        if (startsWith(entry->path().filename().string(), "dhcp")) folders.push_back(entry->path());
    }
    for (const fs::path& folder : folders) {
        if (folderHasLeaseFor(folder, interfaceName)) return true;
    }
    return false;
}

std::vector<LocalAdapter> querySystemAdapters() {
    std::vector<LocalAdapter> adapters;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return adapters;

    std::set<std::string> seen;  // interfaces whose first IPv4 address is taken
    for (const ifaddrs* item = list; item != nullptr; item = item->ifa_next) {
        if (item->ifa_name == nullptr || item->ifa_addr == nullptr) continue;
        if (item->ifa_addr->sa_family != AF_INET) continue;
        const std::string name(item->ifa_name);
        if (!seen.insert(name).second) continue;

        sockaddr_in address{};
        std::memcpy(&address, item->ifa_addr, sizeof address);
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) == nullptr) continue;

        LocalAdapter adapter;
        adapter.adapterName = name;
        adapter.ipAddress = text;
        adapters.push_back(std::move(adapter));
    }
    freeifaddrs(list);

    adapters = withoutUnusableAddresses(std::move(adapters));
    for (LocalAdapter& adapter : adapters) {
        adapter.description =
            system_info_detail::DescribeInterface(adapter.adapterName, readInterfaceTraits(adapter.adapterName));
        adapter.dhcpEnabled = hasDhcpLease(adapter.adapterName);
    }
    return adapters;
}

}  // namespace

bool Is64BitWindows() {
    return currentSystemVersionOverride().is64Bit.value_or(kernelIs64Bit());
}

bool IsWindows10OrGreater() {
    return currentSystemVersionOverride().isWindows10OrGreater.value_or(true);
}

bool IsWindowsVersionOrGreater(uint16_t major, uint16_t /*minor*/, uint16_t /*servicePackMajor*/) {
    return IsWindows10OrGreater() ? major <= 10 : major < 10;
}

void SetSystemVersionOverrideForTesting(std::optional<bool> is64Bit, std::optional<bool> isWindows10OrGreater) {
    const std::lock_guard<std::mutex> lock(systemVersionOverrideMutex());
    systemVersionOverride() = SystemVersionOverride{is64Bit, isWindows10OrGreater};
}

std::vector<LocalAdapter> GetLocalAdapters() {
    {
        const std::lock_guard<std::mutex> lock(injectedAdaptersMutex());
        if (injectedAdapters()) return withoutUnusableAddresses(*injectedAdapters());
    }
    return querySystemAdapters();
}

void SetLocalAdaptersForTesting(std::optional<std::vector<LocalAdapter>> adapters) {
    const std::lock_guard<std::mutex> lock(injectedAdaptersMutex());
    injectedAdapters() = std::move(adapters);
}

namespace system_info_detail {

std::string DescribeInterface(const std::string& name, const InterfaceTraits& traits) {
    static constexpr std::string_view kVirtualNamePrefixes[] = {"veth", "docker", "br-", "virbr",
                                                                "vmnet", "tun", "tap"};
    bool isVirtual = startsWith(traits.resolvedSysfsPath, "/sys/devices/virtual/net/");
    for (const std::string_view prefix : kVirtualNamePrefixes) {
        if (startsWith(name, prefix)) isVirtual = true;
    }

    const char* kind = "network";
    if (traits.bridge) {
        kind = "bridge";
    } else if (traits.wireless) {
        kind = "wireless";
    } else {
        switch (traits.hardwareType) {
            case ARPHRD_ETHER: kind = "ethernet"; break;
            case ARPHRD_LOOPBACK: kind = "loopback"; break;
            case ARPHRD_PPP: kind = "point-to-point"; break;
            case ARPHRD_NONE:
            case ARPHRD_TUNNEL:
            case ARPHRD_TUNNEL6:
            case ARPHRD_SIT:
            case ARPHRD_IPGRE: kind = "tunnel"; break;
            default: break;
        }
    }
    return name + " (" + (isVirtual ? "virtual " : "") + kind + ")";
}

bool IsLeaseFileName(const std::string& fileName, const std::string& interfaceName) {
    if (interfaceName.empty()) return false;
    std::string_view stem(fileName);
    if (endsWith(stem, ".leases")) {
        stem.remove_suffix(7);
    } else if (endsWith(stem, ".lease")) {
        stem.remove_suffix(6);
    } else {
        return false;
    }
    if (stem == interfaceName) return true;
    if (!endsWith(stem, interfaceName)) return false;
    const char separator = stem[stem.size() - interfaceName.size() - 1];
    return separator == '.' || separator == '-';
}

}  // namespace system_info_detail
