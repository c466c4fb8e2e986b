// The Logger: each formatted text reaches the log file and standard error
// whole, once, and never mixed with another thread's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "running_tether.h"
#include "support/tether_environment.h"

namespace {

std::string readFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) return std::string();
    return file.readAll().toStdString();
}

// Sends file descriptor 2 to a file for the lifetime of the object.
class StderrCapture {
public:
    StderrCapture() : path_(directory_.path().toStdString() + "/stderr") {
        fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        const int file = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(file, STDERR_FILENO);
        close(file);
    }
    ~StderrCapture() {
        fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    std::string text() const { return readFile(path_); }

private:
    QTemporaryDir directory_;
    std::string path_;
    int saved_ = -1;
};

class TqLogger : public testing::Test {
protected:
    tq::Logger& logger() { return *zucam::test::runningTether()->logger; }
    std::string logPath() const { return tether_.dataHome().toStdString() + "/ZuCam/log/zucam.log"; }

    StderrCapture stderr_;
    zucam::test::TetherEnvironment tether_;
};

TEST_F(TqLogger, FormattedTextReachesFileAndStderrOnce) {
    EXPECT_EQ(logger().directory(), tether_.dataHome().toStdString() + "/ZuCam/log");
    logger().log(4, "tq", "%s[I][tq] %s %-4d: \"count=%d\"\n", "0102-03:04:05", "file.cpp", 12, 3);
    const std::string expected = "0102-03:04:05[I][tq] file.cpp 12  : \"count=3\"\n";
    EXPECT_EQ(readFile(logPath()), expected);
    EXPECT_EQ(stderr_.text(), expected);
}

TEST_F(TqLogger, TextsOfAnyLengthAreWrittenWhole) {
    // Around the size of the first formatting buffer and far beyond it.
    const std::vector<size_t> lengths = {0, 1, 1022, 1023, 1024, 1025, 4096, 100 * 1024};
    std::string expected;
    for (const size_t length : lengths) {
        std::string text;
        for (size_t n = 0; n < length; ++n) text += static_cast<char>('a' + (n * 7 + length) % 26);
        logger().log(5, "tq", "%s\n", text.c_str());
        expected += text + "\n";
    }
    EXPECT_EQ(readFile(logPath()), expected);
    EXPECT_EQ(stderr_.text(), expected);
}

TEST_F(TqLogger, LinesFromManyThreadsNeverInterleave) {
    constexpr int kThreads = 8;
    constexpr int kLinesPerThread = 2000;
    auto lineOf = [](int thread, int line) {
        // Lengths vary so that torn writes would not line up by chance.
        return "thread=" + std::to_string(thread) + " line=" + std::to_string(line) + " " +
               std::string(static_cast<size_t>(10 + (line * 13 + thread) % 150), static_cast<char>('A' + thread));
    };
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([this, thread, &lineOf] {
            for (int line = 0; line < kLinesPerThread; ++line) {
                logger().log(4, "tq", "%s\n", lineOf(thread, line).c_str());
            }
        });
    }
    for (std::thread& thread : threads) thread.join();

    std::map<std::string, int> expected;
    for (int thread = 0; thread < kThreads; ++thread) {
        for (int line = 0; line < kLinesPerThread; ++line) expected[lineOf(thread, line)] = 0;
    }
    for (const std::string& destination : {readFile(logPath()), stderr_.text()}) {
        ASSERT_FALSE(destination.empty());
        ASSERT_EQ(destination.back(), '\n');
        std::map<std::string, int> seen = expected;
        size_t start = 0;
        int foreign = 0;
        while (start < destination.size()) {
            const size_t end = destination.find('\n', start);
            const auto entry = seen.find(destination.substr(start, end - start));
            if (entry == seen.end()) {
                ++foreign;
            } else {
                ++entry->second;
            }
            start = end + 1;
        }
        EXPECT_EQ(foreign, 0);
        int missingOrRepeated = 0;
        for (const auto& entry : seen) missingOrRepeated += entry.second == 1 ? 0 : 1;
        EXPECT_EQ(missingOrRepeated, 0);
    }
}

TEST_F(TqLogger, UnopenableFileStillLeavesTheLineOnStderr) {
    tq::UninitTether();
    // A folder where the file should be: open(2) fails.
    ASSERT_TRUE(QFile::remove(QString::fromStdString(logPath())));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(logPath())));
    tether_.restart();
    logger().log(2, "tq", "still %s\n", "here");
    EXPECT_NE(stderr_.text().find("still here\n"), std::string::npos);
}

}  // namespace
