// Queries about the system the program runs on: the operating system version
// as the rest of the program expects to see it, and the local network
// adapters that discovery announces on. Every function may be called from any
// thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/system/winsock_init.h"

// The program branches on "64-bit Windows 10 or later". A 64-bit Linux kernel
// counts as that: Is64BitWindows is true on an x86_64 or aarch64 kernel (the
// machine uname reports, not the build), IsWindows10OrGreater is true, and the
// system reports itself as major version 10 with any minor version and
// service pack, so IsWindowsVersionOrGreater is true for every major <= 10.
bool Is64BitWindows();
bool IsWindows10OrGreater();
// While IsWindows10OrGreater() is false (only through the override below) the
// system stands for an older Windows: true for every major < 10.
bool IsWindowsVersionOrGreater(uint16_t major, uint16_t minor, uint16_t servicePackMajor);

// Replaces the answer of Is64BitWindows / IsWindows10OrGreater (and with it
// IsWindowsVersionOrGreater) while set; nullopt restores the real answer.
void SetSystemVersionOverrideForTesting(std::optional<bool> is64Bit,
                                        std::optional<bool> isWindows10OrGreater);

struct LocalAdapter {
    std::string adapterName;  // the interface name, e.g. "eth0"
    std::string description;  // e.g. "eth0 (ethernet)"; contains "virtual" for virtual interfaces
    std::string ipAddress;    // dotted IPv4 text
    bool dhcpEnabled = false;
};

// One entry per interface that has an IPv4 address, in the order the system
// lists the interfaces, with the interface's first IPv4 address. An adapter
// whose address is 0.0.0.0 or 127.0.0.1 is left out, so loopback never appears.
//
// description is "<name> (<kind>)", kind being ethernet, wireless, bridge,
// tunnel, point-to-point, loopback or network, preceded by "virtual " when the
// interface is virtual: its /sys/class/net/<name> resolves under
// /sys/devices/virtual/net, or its name starts with veth, docker, br-, virbr,
// vmnet, tun or tap.
//
// dhcpEnabled is a best guess: true when a DHCP lease for the interface is on
// disk, i.e. /run/systemd/netif/leases/<interface index> exists
// (systemd-networkd), or a file named "<name>.lease[s]", "<prefix>.<name>.lease[s]"
// or "<prefix>-<name>.lease[s]" is in /var/lib/dhcp*, /var/lib/dhclient,
// /run/dhcpcd, /var/lib/NetworkManager or /run/NetworkManager (dhclient,
// dhcpcd and NetworkManager's own client). A shared lease file that names
// several interfaces inside is not read.
std::vector<LocalAdapter> GetLocalAdapters();

// While set, GetLocalAdapters returns this list instead of the system's,
// passed through the same 0.0.0.0 / 127.0.0.1 filter; nullopt restores the
// real query.
void SetLocalAdaptersForTesting(std::optional<std::vector<LocalAdapter>> adapters);

// The pieces GetLocalAdapters builds its entries from, exposed for tests.
namespace system_info_detail {

// What /sys/class/net/<name> tells about an interface.
struct InterfaceTraits {
    std::string resolvedSysfsPath;  // where /sys/class/net/<name> points; empty when unknown
    int hardwareType = -1;          // ARPHRD_* from .../type; -1 when unknown
    bool wireless = false;          // .../wireless or .../phy80211 exists
    bool bridge = false;            // .../bridge exists
};

std::string DescribeInterface(const std::string& name, const InterfaceTraits& traits);
// Whether a file of a DHCP client's state folder is the lease of interfaceName.
bool IsLeaseFileName(const std::string& fileName, const std::string& interfaceName);

}  // namespace system_info_detail
