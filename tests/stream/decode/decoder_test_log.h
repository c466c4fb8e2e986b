// Reading back what the decoder logged through Tether (a TetherEnvironment
// must be alive).
#pragma once

#include <QFile>
#include <QString>

#include "core/tether/tq_log.h"

namespace zucam::test {

// How often text occurs in the log file so far.
inline int CountLogLines(const char* text) {
    QFile file(QString::fromStdString(g_cd->logger->directory()) + "/zucam.log");
    if (!file.open(QIODevice::ReadOnly)) return 0;
    return QString::fromUtf8(file.readAll()).count(QString::fromUtf8(text));
}

}  // namespace zucam::test
