#include "adb/adb_device_list.h"

#include <QRegularExpression>
#include <QStringList>

std::vector<AdbDevice> ParseAdbDeviceList(const QString& output) {
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\n|\r"));
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    std::vector<AdbDevice> devices;
    int lines = 0;
    for (const QString& line : output.split(lineBreak, Qt::SkipEmptyParts)) {
        if (++lines > kMaxAdbDeviceLines) break;
        const QString text = line.trimmed();
        if (text.startsWith(QLatin1String("List of devices attached")) || text.startsWith('*')) continue;
        const QStringList fields = text.split(blanks, Qt::SkipEmptyParts);
        if (fields.size() < 2) continue;
        AdbDevice device;
        device.serial = fields[0];
        device.state = fields[1];
        for (int i = 2; i < fields.size(); ++i) {
            if (fields[i].startsWith(QLatin1String("transport_id:"))) device.transportId = fields[i].mid(13);
        }
        devices.push_back(device);
    }
    return devices;
}
