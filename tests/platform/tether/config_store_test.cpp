// The ConfigStore: texts survive a restart exactly, a damaged file is kept
// aside, a failed flush leaves the old file, and a kill at any moment of a
// flush leaves a whole file.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <json/json.h>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config_sample.h"
#include "running_tether.h"
#include "support/tether_environment.h"

namespace {

using Texts = std::map<std::string, std::string>;

std::string readFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) return std::string();
    return file.readAll().toStdString();
}

void writeFile(const std::string& path, const std::string& contents) {
    QFile file(QString::fromStdString(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(contents.data(), static_cast<qint64>(contents.size())), static_cast<qint64>(contents.size()));
}

// The file as a map, or false when it is not a JSON object of strings.
bool parseConfigFile(const std::string& path, Texts* texts) {
    const std::string contents = readFile(path);
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    if (!reader->parse(contents.data(), contents.data() + contents.size(), &root, nullptr) || !root.isObject()) {
        return false;
    }
    texts->clear();
    for (auto member = root.begin(); member != root.end(); ++member) {
        if (!member->isString()) return false;
        (*texts)[member.name()] = member->asString();
    }
    return true;
}

// Capabilities are per thread on Linux: this affects the calling thread only.
void dropThreadCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) return;
    data[0].effective = 0;
    data[1].effective = 0;
    syscall(SYS_capset, &header, data);
}

class TqConfigStore : public testing::Test {
protected:
    tq::ConfigStore& config() { return *zucam::test::runningTether()->config; }
    std::string folder() const { return tether_.configHome().toStdString() + "/ZuCam"; }

    void store(const Texts& texts) {
        for (const auto& entry : texts) ASSERT_TRUE(config().setString(entry.first.c_str(), entry.second));
    }

    // Names in the folder other than config.json and config.json.bad.
    QStringList strayFiles() const {
        QStringList names = QDir(QString::fromStdString(folder())).entryList(QDir::Files | QDir::Hidden);
        names.removeAll("config.json");
        names.removeAll("config.json.bad");
        return names;
    }

    zucam::test::TetherEnvironment tether_;
};

TEST_F(TqConfigStore, TextsSurviveARestartExactly) {
    const Texts texts = {
        {"plain", "value"},
        {"blanks", "  leading, inner  and trailing  "},
        {"empty", ""},
        {"", "under the empty key"},
        {"key with blanks", "x"},
        {"中文键", "中文的值"},
        {"emoji 🎥", "😀 camera 📱"},
        {"escapes", "quote \" backslash \\ slash / newline \n tab \t"},
        {"control", std::string("\x01\x1f\x7f", 3)},
    };
    store(texts);
    bool found = true;
    EXPECT_EQ(config().getString("never set", &found), "");
    EXPECT_FALSE(found);
    EXPECT_EQ(config().getString("never set", nullptr), "");

    ASSERT_TRUE(config().flush());
    EXPECT_EQ(tether_.configFile(), folder() + "/config.json");
    // Set after the flush: a restart drops it, as a crash would.
    config().setString("unflushed", "lost");
    tether_.restart();

    for (const auto& entry : texts) {
        bool stored = false;
        EXPECT_EQ(config().getString(entry.first.c_str(), &stored), entry.second) << entry.first;
        EXPECT_TRUE(stored) << entry.first;
    }
    config().getString("unflushed", &found);
    EXPECT_FALSE(found);
    Texts onDisk;
    ASSERT_TRUE(parseConfigFile(tether_.configFile(), &onDisk));
    EXPECT_EQ(onDisk, texts);
    EXPECT_TRUE(strayFiles().isEmpty()) << strayFiles().join(' ').toStdString();
}

TEST_F(TqConfigStore, KeptTextsStayValidAsMoreAreKept) {
    std::vector<std::pair<const char*, std::string>> kept;
    for (int n = 0; n < 2000; ++n) {
        const std::string text = "kept " + std::to_string(n) + std::string(static_cast<size_t>(n % 40), '.');
        kept.emplace_back(config().keepString(text), text);
    }
    for (const auto& entry : kept) ASSERT_STREQ(entry.first, entry.second.c_str());
}

TEST_F(TqConfigStore, DamagedFileLoadsEmptyAndIsKeptAside) {
    const std::vector<std::string> damaged = {
        "{\"key\": \"value\"",        // cut short
        "not json at all",
        "[\"an\", \"array\"]",
        "{\"number\": 5}",
        "{\"a\": \"1\"} trailing",
        "",
        // Nested past jsoncpp's stack limit, which throws rather than fails.
        std::string(1001, '[') + std::string(1001, ']'),
        std::string(100000, '{'),
        "{\"a\": " + std::string(1001, '[') + "}",
        "{\"a\": \"1\", 5: \"x\"}",
    };
    for (const std::string& contents : damaged) {
        SCOPED_TRACE(contents);
        tq::UninitTether();
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder())));
        QFile::remove(QString::fromStdString(folder() + "/config.json.bad"));
        writeFile(folder() + "/config.json", contents);
        tether_.restart();

        bool found = true;
        config().getString("key", &found);
        EXPECT_FALSE(found);
        config().getString("a", &found);
        EXPECT_FALSE(found);
        EXPECT_EQ(readFile(folder() + "/config.json.bad"), contents);

        config().setString("fresh", "start");
        ASSERT_TRUE(config().flush());
        Texts onDisk;
        ASSERT_TRUE(parseConfigFile(folder() + "/config.json", &onDisk));
        EXPECT_EQ(onDisk, (Texts{{"fresh", "start"}}));
        EXPECT_EQ(readFile(folder() + "/config.json.bad"), contents);
    }
}

// One member that cannot be read as a text costs that member alone: the
// others load, the file is copied aside whole, and the next flush keeps the
// good members.
TEST_F(TqConfigStore, UnreadableMemberFallsOutAloneAndTheFileIsCopiedAside) {
    const std::string deep = std::string(1001, '[') + std::string(1001, ']');
    const std::vector<std::string> bad = {
        "0", "1e400", "-1e400", "true", "null", "{}", "{\"a\": 1}", "[\"x\"]", deep, "", "tru",
        "\"two\" \"texts\"", "\"\\x\"",
    };
    int logged = 0;  // the log is kept over restarts
    for (const std::string& value : bad) {
        SCOPED_TRACE(value.substr(0, 40));
        tq::UninitTether();
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder())));
        QFile::remove(QString::fromStdString(folder() + "/config.json.bad"));
        const std::string contents = "{\"cfg_device_name\":\"Mine\",\"cfg_first_open\":" + value +
                                     ",\n \"cfg_save_dir\" : \"/srv/rec\"}";
        writeFile(folder() + "/config.json", contents);
        tether_.restart();

        bool found = false;
        EXPECT_EQ(config().getString("cfg_device_name", &found), "Mine");
        EXPECT_TRUE(found);
        EXPECT_EQ(config().getString("cfg_save_dir", &found), "/srv/rec");
        EXPECT_TRUE(found);
        config().getString("cfg_first_open", &found);
        EXPECT_FALSE(found);
        EXPECT_EQ(readFile(folder() + "/config.json.bad"), contents);
        EXPECT_EQ(zucam::test::CountInLog("\"cfg_first_open\" cannot be read as a text"), ++logged);

        ASSERT_TRUE(config().flush());
        Texts onDisk;
        ASSERT_TRUE(parseConfigFile(folder() + "/config.json", &onDisk));
        EXPECT_EQ(onDisk, (Texts{{"cfg_device_name", "Mine"}, {"cfg_save_dir", "/srv/rec"}}));
        EXPECT_EQ(readFile(folder() + "/config.json.bad"), contents);
    }

    // A name given twice: the first stands, and the file is kept aside.
    tq::UninitTether();
    QFile::remove(QString::fromStdString(folder() + "/config.json.bad"));
    const std::string twice = R"({"a":"first","b":"kept","a":"second"})";
    writeFile(folder() + "/config.json", twice);
    tether_.restart();
    EXPECT_EQ(config().getString("a", nullptr), "first");
    EXPECT_EQ(config().getString("b", nullptr), "kept");
    EXPECT_EQ(readFile(folder() + "/config.json.bad"), twice);
}

TEST_F(TqConfigStore, AnEarlierDamagedFileIsNeverReplaced) {
    tq::UninitTether();
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder())));
    writeFile(folder() + "/config.json.bad", "the first damage");
    writeFile(folder() + "/config.json", "{\"cut");
    tether_.restart();
    EXPECT_EQ(readFile(folder() + "/config.json.bad"), "the first damage");
    EXPECT_EQ(readFile(folder() + "/config.json.bad-2"), "{\"cut");

    tq::UninitTether();
    writeFile(folder() + "/config.json", "{\"a\":1}");
    tether_.restart();
    EXPECT_EQ(readFile(folder() + "/config.json.bad"), "the first damage");
    EXPECT_EQ(readFile(folder() + "/config.json.bad-2"), "{\"cut");
    EXPECT_EQ(readFile(folder() + "/config.json.bad-3"), "{\"a\":1}");
}

TEST_F(TqConfigStore, FailedFlushLeavesThePreviousFile) {
    store({{"version", "old"}});
    ASSERT_TRUE(config().flush());
    const std::string before = readFile(tether_.configFile());
    store({{"version", "new"}, {"more", "texts"}});

    ASSERT_EQ(chmod(folder().c_str(), 0555), 0);
    bool flushed = true;
    std::thread([&] {
        // Root, also root of a user namespace, writes anywhere; a thread of
        // its own without capabilities is held to the folder's mode.
        dropThreadCapabilities();
        flushed = config().flush();
    }).join();
    chmod(folder().c_str(), 0755);

    EXPECT_FALSE(flushed);
    EXPECT_EQ(readFile(tether_.configFile()), before);
    EXPECT_TRUE(strayFiles().isEmpty()) << strayFiles().join(' ').toStdString();
    // The texts are still in memory; a later flush that can write stores them.
    ASSERT_TRUE(config().flush());
    Texts onDisk;
    ASSERT_TRUE(parseConfigFile(tether_.configFile(), &onDisk));
    EXPECT_EQ(onDisk, (Texts{{"version", "new"}, {"more", "texts"}}));
}

TEST_F(TqConfigStore, KillDuringFlushesLeavesOneWholeConfiguration) {
    const Texts first = zucam::test::sampleConfiguration(0);
    const Texts second = zucam::test::sampleConfiguration(1);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", tether_.configHome());
    environment.insert("XDG_DATA_HOME", tether_.dataHome());
    int sawFirst = 0;
    int sawSecond = 0;
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::SeparateChannels);
        child.start(TETHER_CONFIG_FLUSHER, QStringList());
        ASSERT_TRUE(child.waitForStarted(30000));
        while (!child.readAllStandardOutput().contains("ready")) {
            ASSERT_TRUE(child.waitForReadyRead(30000)) << child.readAllStandardError().toStdString();
        }
        QThread::msleep(static_cast<unsigned long>(1 + round % 20));
        child.kill();  // SIGKILL: no chance to finish the flush in progress
        ASSERT_TRUE(child.waitForFinished(30000));
        ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << "the child stopped on its own";

        Texts onDisk;
        ASSERT_TRUE(parseConfigFile(folder() + "/config.json", &onDisk)) << "torn file after the kill";
        ASSERT_TRUE(onDisk == first || onDisk == second) << "a mix of the two configurations";
        (onDisk == first ? sawFirst : sawSecond) += 1;
    }
    RecordProperty("first", sawFirst);
    RecordProperty("second", sawSecond);
}

}  // namespace
