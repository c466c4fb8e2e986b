#include "support/headless.h"

#include <QByteArray>
#include <QtGlobal>

namespace zucam::test {

void UseHeadlessQtUnlessSet() {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    if (!qEnvironmentVariableIsSet("QT_FONT_DPI")) qputenv("QT_FONT_DPI", QByteArray("96"));
}

}  // namespace zucam::test
