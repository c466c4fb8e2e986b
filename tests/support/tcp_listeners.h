// Whether something in this network namespace listens on a TCP port, as the
// kernel lists it in /proc/net/tcp (IPv4). Asking by connecting would itself
// be a peer to the listener (a phone, to a stream hub). Any thread.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <cstdint>

namespace zucam::test {

inline bool ListensOnTcpPort(uint16_t port) {
    QFile table("/proc/net/tcp");
    if (!table.open(QIODevice::ReadOnly)) return false;
    const QByteArray local = QByteArray(":") + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // "sl local_address rem_address st ...": state 0A is LISTEN.
        if (fields.size() > 3 && fields[1].endsWith(local) && fields[3] == "0A") return true;
    }
    return false;
}

}  // namespace zucam::test
