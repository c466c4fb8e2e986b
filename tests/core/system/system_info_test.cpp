#include "core/system/system_info.h"

#include <gtest/gtest.h>

#include <net/if.h>
#include <net/if_arp.h>
#include <sys/utsname.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

using system_info_detail::DescribeInterface;
using system_info_detail::InterfaceTraits;
using system_info_detail::IsLeaseFileName;

// ---- system version -------------------------------------------------------

class SystemVersion : public ::testing::Test {
protected:
    void TearDown() override { SetSystemVersionOverrideForTesting(std::nullopt, std::nullopt); }

    static bool kernelIs64Bit() {
        utsname names{};
        if (uname(&names) != 0) return false;
        const std::string machine = names.machine;
        return machine == "x86_64" || machine == "aarch64";
    }
};

struct VersionQuery {
    uint16_t major;
    uint16_t minor;
    uint16_t servicePack;
    bool onWindows10;     // expected answer while the system counts as Windows 10
    bool belowWindows10;  // expected answer while overridden to an older Windows
};

const VersionQuery kVersionQueries[] = {
    {5, 1, 3, true, true},  {6, 1, 1, true, true},  {6, 3, 0, true, true},    {10, 0, 0, true, false},
    {10, 9, 9, true, false}, {11, 0, 0, false, false}, {65535, 0, 0, false, false},
};

TEST_F(SystemVersion, A64BitLinuxCountsAs64BitWindows10) {
    EXPECT_EQ(Is64BitWindows(), kernelIs64Bit());
    EXPECT_TRUE(IsWindows10OrGreater());
    for (const VersionQuery& query : kVersionQueries) {
        EXPECT_EQ(IsWindowsVersionOrGreater(query.major, query.minor, query.servicePack), query.onWindows10)
            << query.major << "." << query.minor << " SP" << query.servicePack;
    }
}

TEST_F(SystemVersion, OverridesReplaceEachAnswerOnItsOwnUntilReset) {
    SetSystemVersionOverrideForTesting(!kernelIs64Bit(), std::nullopt);
    EXPECT_EQ(Is64BitWindows(), !kernelIs64Bit());
    EXPECT_TRUE(IsWindows10OrGreater());

    SetSystemVersionOverrideForTesting(std::nullopt, false);
    EXPECT_EQ(Is64BitWindows(), kernelIs64Bit());
    EXPECT_FALSE(IsWindows10OrGreater());
    for (const VersionQuery& query : kVersionQueries) {
        EXPECT_EQ(IsWindowsVersionOrGreater(query.major, query.minor, query.servicePack), query.belowWindows10)
            << query.major << "." << query.minor << " SP" << query.servicePack;
    }

    SetSystemVersionOverrideForTesting(std::nullopt, std::nullopt);
    EXPECT_EQ(Is64BitWindows(), kernelIs64Bit());
    EXPECT_TRUE(IsWindows10OrGreater());
    EXPECT_TRUE(IsWindowsVersionOrGreater(10, 0, 0));
}

// ---- local adapters -------------------------------------------------------

class SystemLocalAdapters : public ::testing::Test {
protected:
    void TearDown() override { SetLocalAdaptersForTesting(std::nullopt); }

    static std::vector<std::string> names(const std::vector<LocalAdapter>& adapters) {
        std::vector<std::string> result;
        for (const LocalAdapter& adapter : adapters) result.push_back(adapter.adapterName);
        return result;
    }
};

// Runs where only loopback exists (the tests' private network namespace): its
// 127.0.0.1 must be left out. Elsewhere there is nothing certain to expect.
TEST_F(SystemLocalAdapters, OnlyLoopbackPresentGivesAnEmptyList) {
    struct if_nameindex* const interfaces = if_nameindex();
    ASSERT_NE(interfaces, nullptr);
    bool onlyLoopback = true;
    for (const struct if_nameindex* entry = interfaces; entry->if_index != 0; ++entry) {
        if (std::string(entry->if_name) != "lo") onlyLoopback = false;
    }
    if_freenameindex(interfaces);
    if (!onlyLoopback) GTEST_SKIP() << "needs a network namespace with only loopback (scripts/netns-run)";

    EXPECT_TRUE(GetLocalAdapters().empty());
}

TEST_F(SystemLocalAdapters, InjectedListLosesUnusableAddressesAndKeepsOrderAndFields) {
    SetLocalAdaptersForTesting(std::vector<LocalAdapter>{
        {"eth0", "eth0 (ethernet)", "192.168.1.20", true},
        {"lo", "lo (virtual loopback)", "127.0.0.1", false},
        {"wlan0", "wlan0 (wireless)", "10.0.0.7", false},
        {"eth1", "eth1 (ethernet)", "0.0.0.0", true},
        {"veth3", "veth3 (virtual ethernet)", "172.17.0.1", false},
        {"lo:1", "lo:1 (virtual loopback)", "127.0.0.2", false},
    });

    const std::vector<LocalAdapter> adapters = GetLocalAdapters();
    ASSERT_EQ(names(adapters), (std::vector<std::string>{"eth0", "wlan0", "veth3", "lo:1"}));
    EXPECT_EQ(adapters[0].description, "eth0 (ethernet)");
    EXPECT_EQ(adapters[0].ipAddress, "192.168.1.20");
    EXPECT_TRUE(adapters[0].dhcpEnabled);
    EXPECT_EQ(adapters[2].description, "veth3 (virtual ethernet)");
    EXPECT_FALSE(adapters[2].dhcpEnabled);
}

TEST_F(SystemLocalAdapters, InjectingAnEmptyListAndResettingWork) {
    const std::vector<std::string> real = names(GetLocalAdapters());

    SetLocalAdaptersForTesting(std::vector<LocalAdapter>{});
    EXPECT_TRUE(GetLocalAdapters().empty());

    SetLocalAdaptersForTesting(std::vector<LocalAdapter>{{"eth9", "eth9 (ethernet)", "10.1.2.3", false}});
    EXPECT_EQ(names(GetLocalAdapters()), std::vector<std::string>{"eth9"});

    SetLocalAdaptersForTesting(std::nullopt);
    EXPECT_EQ(names(GetLocalAdapters()), real);
}

// Replacing the list while another thread copies it: without the guard the
// copy reads freed entries, which AddressSanitizer reports (the long lists and
// many rounds make the overlap all but certain), and a torn size shows anyway.
TEST_F(SystemLocalAdapters, InjectionAndQueriesMayRunOnDifferentThreads) {
    const auto listOf = [](int count) {
        std::vector<LocalAdapter> adapters;
        for (int i = 0; i < count; ++i) {
            const std::string name = "eth" + std::to_string(i);
            adapters.push_back({name, name + " (ethernet)", "10.0.0." + std::to_string(i + 1), false});
        }
        return adapters;
    };
    const std::vector<LocalAdapter> shortList = listOf(1);
    const std::vector<LocalAdapter> longList = listOf(64);
    SetLocalAdaptersForTesting(shortList);
    std::atomic<bool> writing{false};
    std::atomic<bool> done{false};
    std::thread writer([&] {
        writing.store(true);
        for (int i = 0; !done.load(); ++i) SetLocalAdaptersForTesting(i % 2 == 0 ? longList : shortList);
    });
    while (!writing.load()) std::this_thread::yield();
    int torn = 0;
    for (int i = 0; i < 20000; ++i) {
        const size_t size = GetLocalAdapters().size();
        if (size != shortList.size() && size != longList.size()) ++torn;
    }
    done.store(true);
    writer.join();
    EXPECT_EQ(torn, 0);
}

struct DescriptionCase {
    const char* name;
    InterfaceTraits traits;
    const char* expected;
};

TEST(SystemAdapterDescription, NamesTheKindAndMarksVirtualInterfaces) {
    const std::string pci = "/sys/devices/pci0000:00/0000:00:1f.6/net/";
    const std::string virtualNet = "/sys/devices/virtual/net/";
    const DescriptionCase cases[] = {
        {"eth0", {pci + "eth0", ARPHRD_ETHER, false, false}, "eth0 (ethernet)"},
        {"wlp2s0", {pci + "wlp2s0", ARPHRD_ETHER, true, false}, "wlp2s0 (wireless)"},
        {"lo", {virtualNet + "lo", ARPHRD_LOOPBACK, false, false}, "lo (virtual loopback)"},
        {"dummy0", {virtualNet + "dummy0", ARPHRD_ETHER, false, false}, "dummy0 (virtual ethernet)"},
        {"br0", {virtualNet + "br0", ARPHRD_ETHER, false, true}, "br0 (virtual bridge)"},
        {"wg0", {virtualNet + "wg0", ARPHRD_NONE, false, false}, "wg0 (virtual tunnel)"},
        {"ppp0", {virtualNet + "ppp0", ARPHRD_PPP, false, false}, "ppp0 (virtual point-to-point)"},
        // No sysfs entry to go by (another namespace's view): the name decides.
        {"veth1", {}, "veth1 (virtual network)"},
        {"docker0", {}, "docker0 (virtual network)"},
        {"br-5f2a", {}, "br-5f2a (virtual network)"},
        {"virbr0", {"", ARPHRD_ETHER, false, true}, "virbr0 (virtual bridge)"},
        {"vmnet8", {"", ARPHRD_ETHER, false, false}, "vmnet8 (virtual ethernet)"},
        {"tun0", {}, "tun0 (virtual network)"},
        {"tap1", {"", ARPHRD_ETHER, false, false}, "tap1 (virtual ethernet)"},
        {"enp3s0", {}, "enp3s0 (network)"},
        // Only a prefix counts, and only the virtual devices folder.
        {"myveth", {pci + "myveth", ARPHRD_ETHER, false, false}, "myveth (ethernet)"},
        {"eth2", {"/sys/devices/virtualish/net/eth2", ARPHRD_ETHER, false, false}, "eth2 (ethernet)"},
    };
    for (const DescriptionCase& entry : cases) {
        EXPECT_EQ(DescribeInterface(entry.name, entry.traits), entry.expected) << entry.name;
    }
}

struct LeaseCase {
    const char* fileName;
    const char* interfaceName;
    bool isLease;
};

TEST(SystemAdapterDhcp, RecognisesLeaseFilesOfTheInterfaceOnly) {
    const LeaseCase cases[] = {
        {"dhclient.eth0.leases", "eth0", true},
        {"dhclient-6d1c7e4a-52b0-4bbf-9a4f-0123456789ab-eth0.lease", "eth0", true},
        {"internal-6d1c7e4a-52b0-4bbf-9a4f-0123456789ab-wlan0.lease", "wlan0", true},
        {"eth0.lease", "eth0", true},
        {"br-5f2a.lease", "br-5f2a", true},
        {"dhclient.veth0.leases", "eth0", false},
        {"dhclient.eth0.leases", "eth", false},
        {"dhclient.eth0.leases.bak", "eth0", false},
        {"dhclient.leases", "eth0", false},
        {"eth0", "eth0", false},
        {"duid", "eth0", false},
        {".lease", "", false},
    };
    for (const LeaseCase& entry : cases) {
        EXPECT_EQ(IsLeaseFileName(entry.fileName, entry.interfaceName), entry.isLease)
            << entry.fileName << " for " << entry.interfaceName;
    }
}

}  // namespace
