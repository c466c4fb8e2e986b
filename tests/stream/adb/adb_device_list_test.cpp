#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include "adb/adb_device_list.h"

namespace {

struct ListCase {
    const char* name;
    const char* output;
    // "serial state transport" per device line found, in order.
    QStringList expected;
};

void PrintTo(const ListCase& listCase, std::ostream* out) { *out << listCase.name; }

QStringList Describe(const std::vector<AdbDevice>& devices) {
    QStringList described;
    for (const AdbDevice& device : devices) {
        described << QString("%1 %2 %3").arg(device.serial, device.state, device.transportId);
    }
    return described;
}

class AdbDeviceListTest : public testing::TestWithParam<ListCase> {};

TEST_P(AdbDeviceListTest, FieldsAreReadAsAdbPrintsThem) {
    EXPECT_EQ(Describe(ParseAdbDeviceList(QString::fromUtf8(GetParam().output))), GetParam().expected);
}

// Lines shaped as adb 1.0.41 prints them ("%-22s %s" and the -l fields).
const ListCase kCases[] = {
    {"OnePhone",
     "List of devices attached\n"
     "R58M12345              device usb:1-1 product:beyond1ltexx model:SM_G973F device:beyond1 transport_id:1\n\n",
     {"R58M12345 device 1"}},
    {"None", "List of devices attached\n\n", {}},
    {"NothingAtAll", "", {}},
    {"TwoPhones",
     "List of devices attached\n"
     "R58M12345              device usb:1-1 product:beyond1ltexx model:SM_G973F device:beyond1 transport_id:3\n"
     "emulator-5554          device product:sdk_gphone64_x86_64 model:sdk_gphone64_x86_64 device:emu64xa "
     "transport_id:4\n",
     {"R58M12345 device 3", "emulator-5554 device 4"}},
    {"Offline", "List of devices attached\nR58M12345              offline usb:1-1 transport_id:2\n",
     {"R58M12345 offline 2"}},
    {"Unauthorized", "List of devices attached\nR58M12345              unauthorized usb:1-1 transport_id:5\n",
     {"R58M12345 unauthorized 5"}},
    // "device" stands only inside the help address: not a usable device.
    {"NoPermissions",
     "List of devices attached\n"
     "R58M12345              no permissions (user in plugdev group; are your udev rules wrong?); see "
     "[http://developer.android.com/tools/device.html] usb:1-1 transport_id:6\n",
     {"R58M12345 no 6"}},
    {"DaemonStartNotes",
     "* daemon not running; starting now at tcp:5037\n* daemon started successfully\n"
     "List of devices attached\nR58M12345              device usb:1-1 transport_id:1\n",
     {"R58M12345 device 1"}},
    {"WindowsLineEnds", "List of devices attached\r\nR58M12345              device transport_id:7\r\n\r\n",
     {"R58M12345 device 7"}},
    {"PlainListWithTabs", "List of devices attached\nR58M12345\tdevice\n", {"R58M12345 device "}},
    {"NetworkDevice", "List of devices attached\n192.168.1.20:5555      device product:x model:y device:z transport_id:9\n",
     {"192.168.1.20:5555 device 9"}},
    {"LoneWordIsNoDevice", "List of devices attached\ndevice\n", {}},
    {"VersionMismatchNote",
     "adb server version (39) doesn't match this client (41); killing...\n"
     "List of devices attached\nR58M12345              device transport_id:1\n",
     {"adb server ", "R58M12345 device 1"}},  // a note, not usable (state "server")
};

INSTANTIATE_TEST_SUITE_P(Outputs, AdbDeviceListTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ListCase>& param) { return param.param.name; });

TEST(AdbDeviceList, OnlyDeviceStateIsUsable) {
    const auto devices = ParseAdbDeviceList(
        "List of devices attached\nA device\nB offline\nC unauthorized\nD no permissions\nE recovery\n");
    QStringList usable;
    for (const AdbDevice& device : devices) {
        if (device.usable()) usable << device.serial;
    }
    EXPECT_EQ(usable, QStringList{"A"});
}

TEST(AdbDeviceList, AFloodOfLinesIsReadOnlyAsFarAsTheBound) {
    QString output;
    for (int i = 0; i < 100000; ++i) output += QString("S%1 device transport_id:%1\n").arg(i);
    const auto devices = ParseAdbDeviceList(output);
    EXPECT_EQ(static_cast<int>(devices.size()), kMaxAdbDeviceLines);
    EXPECT_EQ(devices.front().serial, "S0");
}

}  // namespace
