// Qt's own texts follow the Chinese interface once ZuCam runs; without the
// translation file they stay English and the program goes on.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "qt_translations.h"

namespace {

TEST(QtTranslations, QtsStandardTextsAreChineseOnceZuCamRuns) {
    // The test main made the one ZuCam of the process.
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString::fromUtf8("取消"));
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), QString::fromUtf8("查找范围："));
}

TEST(QtTranslations, AMissingFileInstallsNoTranslator) {
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    const int before = QCoreApplication::instance()->findChildren<QObject*>().size();
    EXPECT_FALSE(InstallQtTranslations(QCoreApplication::instance(), empty.path()));
    EXPECT_EQ(QCoreApplication::instance()->findChildren<QObject*>().size(), before);
}

}  // namespace
