#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

// Every image that a style sheet of the bundle names is in the bundle, and
// the microphone icons the tool bar picks at run time are there too.
TEST(ResourceBundle, EveryImageNamedByAStyleSheetExists) {
    const QRegularExpression url(R"(url\((:/image/[^)]+)\))");
    int sheets = 0;
    int images = 0;
    QDirIterator it(":/qss", QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!it.fileInfo().isFile()) continue;
        QFile sheet(path);
        ASSERT_TRUE(sheet.open(QIODevice::ReadOnly)) << path.toStdString();
        ++sheets;
        auto matches = url.globalMatch(QString::fromUtf8(sheet.readAll()));
        while (matches.hasNext()) {
            const QString image = matches.next().captured(1);
            ++images;
            EXPECT_TRUE(QFile::exists(image)) << image.toStdString() << " named by " << path.toStdString();
        }
    }
    EXPECT_GE(sheets, 5);
    EXPECT_GE(images, 40);

    QStringList voice = {"null"};
    for (int level = 0; level <= 10; ++level) voice << QString::number(level);
    for (const QString& level : voice) {
        for (const QString& suffix : {QString(), QString("_hover")}) {
            const QString image = QString(":/image/voice/voice-%1%2.png").arg(level, suffix);
            EXPECT_TRUE(QFile::exists(image)) << image.toStdString();
        }
    }
    for (const char* image : {":/image/display_waitting.png", ":/image/display_waitting_cursor.png",
                              ":/image/logo_zucam.png"}) {
        EXPECT_TRUE(QFile::exists(image)) << image;
    }
}

}  // namespace
