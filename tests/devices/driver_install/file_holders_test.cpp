#include "devices/driver_install/file_holders.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <memory>
#include <vector>

namespace {

// Polls until the list is the one wanted (the shells have become what they
// exec) or the deadline passes.
QStringList WaitForHolders(const QStringList& paths, const QStringList& wanted, int ms) {
    QElapsedTimer clock;
    clock.start();
    QStringList names = programsHoldingFiles(paths);
    while (names != wanted && clock.elapsed() < ms) {
        QThread::msleep(20);
        names = programsHoldingFiles(paths);
    }
    return names;
}

class Children {
public:
    ~Children() {
        for (auto& child : children_) {
            child->kill();
            child->waitForFinished(5000);
        }
    }
    QProcess* start(const QString& program, const QStringList& arguments) {
        children_.push_back(std::make_unique<QProcess>());
        children_.back()->start(program, arguments);
        EXPECT_TRUE(children_.back()->waitForStarted(5000)) << program.toStdString();
        return children_.back().get();
    }

private:
    std::vector<std::unique_ptr<QProcess>> children_;
};

TEST(FileHolders, ProcessesThatOpenOrMapAFileAreNamedOnceEachInOrder) {
    QTemporaryDir dir;
    const QString dll32 = dir.path() + "/zu-virtual-camera-dshow32.dll";
    const QString dll64 = dir.path() + "/zu-virtual-camera-dshow64.dll";
    const QString other = dir.path() + "/unrelated.dll";
    for (const QString& path : {dll32, dll64, other}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'z'));
    }
    EXPECT_TRUE(programsHoldingFiles({dll32, dll64}).isEmpty());

    Children children;
    // Two processes of one name ("sleep") holding the files open.
    const QString keepOpen = "exec 3<\"$1\"; exec sleep 60";
    children.start("sh", {"-c", keepOpen, "sh", dll32});
    children.start("sh", {"-c", keepOpen, "sh", dll64});
    // One that only maps a file (its descriptor closed after the mapping).
    // The system's interpreter itself, not a wrapper script that execs one.
    const QString python = QFileInfo("/usr/bin/python3").canonicalFilePath();
    if (python.isEmpty()) GTEST_SKIP() << "no /usr/bin/python3";
    children.start(python, {"-c",
                            "import mmap,sys,time\n"
                            "f=open(sys.argv[1],'rb')\n"
                            "m=mmap.mmap(f.fileno(),0,access=mmap.ACCESS_READ)\n"
                            "f.close()\n"
                            "time.sleep(60)\n",
                            dll64});
    // One holding another file only.
    children.start("sh", {"-c", "exec 3<\"$1\"; exec tail -f /dev/null", "sh", other});

    const QString pythonName = QFileInfo(python).fileName();
    EXPECT_EQ(WaitForHolders({dll32, dll64}, {pythonName, "sleep"}, 10000), QStringList({pythonName, "sleep"}));
    EXPECT_EQ(WaitForHolders({other}, {"tail"}, 10000), QStringList({"tail"}));
}

}  // namespace
