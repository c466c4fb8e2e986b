#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include "new-version-update-dialog.h"

namespace {

TEST(NewVersionUpdateDialog, EachButtonGivesItsResult) {
    const std::pair<const char*, int> buttons[] = {
        {"pushButton_update", 1}, {"pushButton_skip", 2}, {"pushButton_nextTime", 0}, {"pushButton_close", 0}};
    for (const auto& [name, result] : buttons) {
        NewVersionUpdateDialog dialog("1.1.8", "1.2.0", "<b>fixes</b>", nullptr);
        QTimer::singleShot(0, &dialog, [&dialog, name = name] { dialog.findChild<QPushButton*>(name)->click(); });
        EXPECT_EQ(dialog.exec(), result) << name;
    }
}

TEST(NewVersionUpdateDialog, NamesBothVersionsAndShowsTheNotesReadOnly) {
    NewVersionUpdateDialog dialog("1.1.8", "1.2.0", "<b>fixes</b>", nullptr);
    EXPECT_EQ(dialog.findChild<QLabel*>("label_new_info")->text(),
              "Zu虚拟摄像头 1.2.0 可供下载 ，当前版本为 1.1.8 。是否现在下载更新？");
    auto* notes = dialog.findChild<QTextEdit*>("textEdit_version_desc");
    EXPECT_TRUE(notes->isReadOnly());
    EXPECT_EQ(notes->toPlainText(), "fixes");  // rich text recognised
    for (const char* name : {"pushButton_update", "pushButton_skip", "pushButton_nextTime"}) {
        EXPECT_FALSE(dialog.findChild<QPushButton*>(name)->isHidden()) << name;
    }
    const QString shots = qEnvironmentVariable("ZUCAM_SHOT_DIR");
    if (!shots.isEmpty()) {
        dialog.resize(568, 361);
        dialog.show();
        EXPECT_TRUE(dialog.grab().save(shots + "/new-version-update-dialog.png"));
    }
}

}  // namespace
