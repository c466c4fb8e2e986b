// The write test before saving: it answers whether a folder takes a new
// file, and never truncates, replaces or removes anything that was there.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <sys/stat.h>
#include <unistd.h>

#include "core/system/probe_write.h"

namespace {

std::string Path(const QString& path) { return QFile::encodeName(path).toStdString(); }

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

class ProbeWriteTest : public testing::Test {
protected:
    QTemporaryDir dir;
    QString Probe() const { return dir.filePath("zucam-test.txt"); }
};

TEST_F(ProbeWriteTest, WritableFolderLeavesNothingBehind) {
    ASSERT_TRUE(dir.isValid());
    EXPECT_TRUE(ProbeFolderWritable(Path(dir.path())));
    EXPECT_TRUE(ProbeFolderWritable(Path(dir.path() + "/")));
    EXPECT_TRUE(ProbeWrite(Path(dir.filePath("ZuCam_shot[20260101120000].png.txt"))));
    EXPECT_EQ(Entries(dir.path()), QStringList());
}

TEST_F(ProbeWriteTest, AUsersFileOfTheProbesNameStaysByteIdentical) {
    const QByteArray precious = QByteArray("the user's notes\n") + QByteArray(5000, 'x');
    Write(Probe(), precious);
    struct stat before {};
    ASSERT_EQ(::stat(Path(Probe()).c_str(), &before), 0);

    EXPECT_TRUE(ProbeFolderWritable(Path(dir.path())));

    EXPECT_EQ(Read(Probe()), precious);
    struct stat after {};
    ASSERT_EQ(::stat(Path(Probe()).c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "replaced";
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec) << "written to";
    EXPECT_EQ(Entries(dir.path()), QStringList{"zucam-test.txt"});
}

TEST_F(ProbeWriteTest, TakenNamesOfEveryKindAreSteppedAroundNeverTouched) {
    // A folder, a link to a user's file and a dangling link under the probe
    // name and its first alternatives.
    ASSERT_TRUE(QDir(dir.path()).mkdir("zucam-test.txt"));
    Write(dir.filePath("target.txt"), "keep me");
    ASSERT_TRUE(QFile::link(dir.filePath("target.txt"), Probe() + ".1"));
    ASSERT_TRUE(QFile::link(dir.filePath("nowhere"), Probe() + ".2"));
    const QStringList before = Entries(dir.path());

    EXPECT_TRUE(ProbeFolderWritable(Path(dir.path())));

    EXPECT_EQ(Entries(dir.path()), before);
    EXPECT_EQ(Read(dir.filePath("target.txt")), "keep me");
    EXPECT_TRUE(QFileInfo(Probe()).isDir());
    EXPECT_EQ(QFileInfo(Probe() + ".2").symLinkTarget(), dir.filePath("nowhere"));
}

TEST_F(ProbeWriteTest, NoFreeNameIsAFailureAndChangesNothing) {
    Write(Probe(), "0");
    for (int i = 1; i <= 99; ++i) Write(Probe() + "." + QString::number(i), QByteArray::number(i));
    EXPECT_FALSE(ProbeFolderWritable(Path(dir.path())));
    EXPECT_EQ(Entries(dir.path()).size(), 100);
    EXPECT_EQ(Read(Probe() + ".42"), "42");
}

TEST_F(ProbeWriteTest, FoldersThatTakeNoFileFail) {
    EXPECT_FALSE(ProbeFolderWritable(Path(dir.filePath("missing"))));
    EXPECT_FALSE(ProbeFolderWritable(""));
    EXPECT_FALSE(ProbeWrite(""));
    // Even root cannot create files in /proc.
    EXPECT_FALSE(ProbeFolderWritable("/proc"));
    Write(dir.filePath("plain-file"), "x");
    EXPECT_FALSE(ProbeFolderWritable(Path(dir.filePath("plain-file"))));
    if (::geteuid() != 0) {
        const QString locked = dir.filePath("locked");
        ASSERT_TRUE(QDir(dir.path()).mkdir("locked"));
        ASSERT_EQ(::chmod(Path(locked).c_str(), 0555), 0);
        EXPECT_FALSE(ProbeFolderWritable(Path(locked)));
        ::chmod(Path(locked).c_str(), 0755);
    }
}

}  // namespace
