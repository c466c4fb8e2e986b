#include "log_reader.h"

#include <QFile>

#include "core/tether/tq.h"

namespace zucam::test {

int CountInLog(const QString& text) {
    if (g_cd == nullptr) return -1;
    QFile file(QString::fromStdString(g_cd->logger->directory()) + "/zucam.log");
    if (!file.open(QIODevice::ReadOnly)) return -1;
    return static_cast<int>(QString::fromUtf8(file.readAll()).count(text));
}

}  // namespace zucam::test
