// The device list that "adb devices -l" prints, read field by field.
#pragma once

#include <QString>
#include <vector>

struct AdbDevice {
    QString serial;
    // "device" when usable; "offline", "unauthorized", "no", "recovery", ...
    QString state;
    // The "transport_id:" field: adb numbers every attachment afresh, so a
    // replugged phone shows a new one. Empty when adb does not print it.
    QString transportId;

    bool usable() const { return state == QLatin1String("device"); }
};

// Lines read at most: one per attached device; more is not a real list.
constexpr int kMaxAdbDeviceLines = 64;

// One entry per device line, in order: the first field is the serial, the
// second the state, later "key:value" fields are looked at by key. The
// header, adb's "* daemon ..." notes and lines with fewer than two fields are
// not devices.
std::vector<AdbDevice> ParseAdbDeviceList(const QString& output);
