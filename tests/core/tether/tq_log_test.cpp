#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <gtest/gtest.h>

#include "core/tether/tq_log.h"
#include "support/tether_environment.h"

namespace {

// Runs during static initialisation, long before Tether starts.
const bool s_loggedBeforeInit = [] {
    LOG_E("logged before Tether started %d", 1);
    return true;
}();

QString logFilePath() {
    return QString::fromStdString(g_cd->logger->directory()) + "/zucam.log";
}

QStringList logLines() {
    QFile file(logFilePath());
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

// The text after the time stamp, which is checked on its own.
QString withoutTime(const QString& line) {
    static const QRegularExpression time("^\\d{4}-\\d{2}:\\d{2}:\\d{2}");
    EXPECT_TRUE(time.match(line).hasMatch()) << line.toStdString();
    return line.mid(13);
}

QString lineField(int line) { return QString("%1").arg(line, -4); }

TEST(Logging, LineCarriesLevelBaseNameLineAndQuotedMessage) {
    zucam::test::TetherEnvironment tether;
    const int line = __LINE__ + 1;
    LOG_E("----> loaded modules count=%d", 3);
    LOG_W("warned %s", "here");
    LOG_I("informed");
    LOG_D("debug %d%%", 50);

    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(withoutTime(lines[0]),
              QString("[E][tq] tq_log_test.cpp %1: \"----> loaded modules count=3\"").arg(lineField(line)));
    EXPECT_EQ(withoutTime(lines[1]), QString("[W][tq] tq_log_test.cpp %1: \"warned here\"").arg(lineField(line + 1)));
    EXPECT_EQ(withoutTime(lines[2]), QString("[I][tq] tq_log_test.cpp %1: \"informed\"").arg(lineField(line + 2)));
    EXPECT_EQ(withoutTime(lines[3]), QString("[D][tq] tq_log_test.cpp %1: \"debug 50%\"").arg(lineField(line + 3)));
}

TEST(Logging, MessageIsLoggedAsSpelledInTheSource) {
    zucam::test::TetherEnvironment tether;
    const int line = __LINE__ + 1;
    LOG_E("first" "second %s\n", "x");
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 1);
    // Adjacent literals keep their quotes and the blank between them; the
    // escape is printed as backslash and n.
    EXPECT_EQ(withoutTime(lines[0]),
              QString("[E][tq] tq_log_test.cpp %1: \"first\" \"second x\\n\"").arg(lineField(line)));
}

TEST(Logging, NothingIsWrittenOutsideTetherLifetime) {
    ASSERT_TRUE(s_loggedBeforeInit);
    zucam::test::TetherEnvironment tether;
    const QString path = logFilePath();
    LOG_E("while running");
    tq::UninitTether();
    ASSERT_EQ(g_cd, nullptr);
    LOG_E("after the end %d", 2);  // must not touch the torn-down logger

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.contains("while running"));
    EXPECT_FALSE(text.contains("before Tether started"));
    EXPECT_FALSE(text.contains("after the end"));
}

struct BaseNameCase {
    const char* path;
    const char* baseName;
};

TEST(Logging, BaseNameFollowsTheLastSeparatorOfEitherKind) {
    const BaseNameCase cases[] = {
        {"app/stream/stream_manager.cpp", "stream_manager.cpp"},
        {"C:\\src\\zucam\\main.cpp", "main.cpp"},
        {"C:\\src/zucam\\stream/parser.cpp", "parser.cpp"},
        {"mixed/dir\\file.cpp", "file.cpp"},
        {"plain.cpp", "plain.cpp"},
        {"/abs.cpp", "/abs.cpp"},  // a separator in the very first character is not seen
        {"dir/", ""},
    };
    for (const BaseNameCase& c : cases) {
        EXPECT_STREQ(c.path + basenameOffset(c.path, 1, -1), c.baseName) << c.path;
    }
    static_assert(basenameOffset("a/b.cpp", 1, -1) == 2, "computed at compile time");
}

}  // namespace
