// Runs several single_instance_probe processes against each other, and raw
// local-socket clients against a probe primary. Every test uses its own
// application name, so its memory block and server never meet another
// test's (or a running ZuCam's).
#include "core/single_application/instances_block.h"
#include "probe_process.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSharedMemory>
#include <QSystemSemaphore>
#include <QThread>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace {

constexpr int kWaitMs = ProbeProcess::kWaitMs;

QByteArray streamed(const std::function<void(QDataStream&)>& write) {
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_5_6);
    stream.setByteOrder(QDataStream::BigEndian);
    write(stream);
    return bytes;
}

QByteArray header(const qint64 bodyLength) {
    return streamed([&](QDataStream& s) { s << bodyLength; });
}

// The handshake a secondary sends; checksumMask != 0 spoils its checksum.
QByteArray initMessage(const QString& name, const qint8 type, const qint32 instance,
                       const quint16 checksumMask = 0) {
    QByteArray body = streamed([&](QDataStream& s) { s << name.toLatin1() << type << instance; });
    const quint16 checksum = qChecksum(body.constData(), static_cast<uint>(body.size())) ^ checksumMask;
    body += streamed([&](QDataStream& s) { s << checksum; });
    return header(body.size()) + body;
}

constexpr qint8 kNewInstance = 1;
constexpr qint8 kSecondaryInstance = 2;
constexpr qint8 kReconnect = 3;

QString currentUserName() {
    const passwd* const entry = ::getpwuid(::geteuid());
    return entry != nullptr ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

// A copy of the shared record, read under the block's lock.
struct RecordSnapshot {
    bool primary = false;
    quint32 secondary = 0;
    qint64 primaryPid = 0;
    QByteArray primaryUser;
    bool checksumValid = false;
};

class SingleApplicationTest : public ::testing::Test {
protected:
    void TearDown() override {
        probes_.clear();  // kills what still runs
        block_.reset();
        if (serverName_.isEmpty()) {
            return;
        }
        // A killed probe leaves its block, semaphore and socket file behind;
        // nothing of this test's name may outlive it.
        QSharedMemory leftover(serverName_);
        if (leftover.attach()) {
            leftover.detach();  // the last detach removes the block
        }
        QSystemSemaphore owned(serverName_, 1, QSystemSemaphore::Create);  // removed with it
        QLocalServer::removeServer(serverName_);
    }

    QString salt() const {
        const auto* const info = ::testing::UnitTest::GetInstance()->current_test_info();
        return QStringLiteral("zucam-sa-test-%1-%2-%3")
            .arg(QString::fromLatin1(info->test_suite_name()), QString::fromLatin1(info->name()))
            .arg(QCoreApplication::applicationPid());
    }

    ProbeProcess& start(QStringList arguments = {}) {
        arguments << QStringLiteral("--name") << salt();
        probes_.push_back(std::make_unique<ProbeProcess>(arguments));
        return *probes_.back();
    }

    // Starts a probe that must become primary and learns the server name.
    ProbeProcess& startPrimary() {
        ProbeProcess& probe = start();
        serverName_ = probe.waitForValue(QStringLiteral("server "));
        EXPECT_FALSE(serverName_.isEmpty()) << probe.errorOutput().toStdString();
        EXPECT_TRUE(probe.waitForLine(QStringLiteral("primary"))) << probe.lines().join('|').toStdString();
        return probe;
    }

    // Starts a secondary that sends text; returns the number it registered as.
    QString runSecondary(const QString& text) {
        ProbeProcess& probe = start({QStringLiteral("--send"), text});
        const QString number = probe.waitForValue(QStringLiteral("secondary "));
        EXPECT_TRUE(probe.waitForLine(QStringLiteral("sent"))) << probe.lines().join('|').toStdString();
        EXPECT_TRUE(probe.waitForExit());
        EXPECT_EQ(probe.exitCode(), 0);
        return number;
    }

    RecordSnapshot readRecord() {
        if (!block_) {
            block_ = std::make_unique<QSharedMemory>(serverName_);
            EXPECT_TRUE(block_->attach()) << block_->errorString().toStdString();
        }
        RecordSnapshot snapshot;
        if (!block_->isAttached() || !block_->lock()) {
            ADD_FAILURE() << "cannot lock the block";
            return snapshot;
        }
        const auto* const bytes = static_cast<const char*>(block_->constData());
        // Field by field at the documented offsets, not through the struct.
        snapshot.primary = bytes[0] != 0;
        std::memcpy(&snapshot.secondary, bytes + 4, sizeof snapshot.secondary);
        std::memcpy(&snapshot.primaryPid, bytes + 8, sizeof snapshot.primaryPid);
        snapshot.primaryUser = QByteArray(bytes + 16);
        quint16 stored = 0;
        std::memcpy(&stored, bytes + 144, sizeof stored);
        snapshot.checksumValid = stored == qChecksum(bytes, 144);
        block_->unlock();
        return snapshot;
    }

    void corruptChecksum() {
        readRecord();  // attaches
        ASSERT_TRUE(block_->lock());
        static_cast<char*>(block_->data())[144] ^= 0x5A;
        block_->unlock();
    }

    // A raw client of the primary's server, as a stranger or an old build
    // would connect.
    std::unique_ptr<QLocalSocket> connectRaw() {
        auto client = std::make_unique<QLocalSocket>();
        client->connectToServer(serverName_);
        EXPECT_TRUE(client->waitForConnected(kWaitMs)) << client->errorString().toStdString();
        return client;
    }

    static void writeAll(QLocalSocket& client, const QByteArray& bytes) {
        client.write(bytes);
        while (client.bytesToWrite() > 0 && client.waitForBytesWritten(kWaitMs)) {
        }
    }

    // Proves the primary printed nothing but `expected` since `before`
    // lines: a well-formed message sent afterwards must be the next line.
    void expectOnlyLinesSince(ProbeProcess& primary, const int before, QStringList expected) {
        auto marker = connectRaw();
        writeAll(*marker, initMessage(serverName_, kReconnect, 99) + "marker");
        ASSERT_TRUE(primary.waitForLine(QStringLiteral("received 99 marker")));
        expected << QStringLiteral("received 99 marker");
        EXPECT_EQ(primary.lines().mid(before), expected);
    }

    std::vector<std::unique_ptr<ProbeProcess>> probes_;
    QString serverName_;
    std::unique_ptr<QSharedMemory> block_;  // the test's own attachment, when it looks inside
};

TEST_F(SingleApplicationTest, SecondariesAreNumberedAnnounceThemselvesAndDeliverMessages) {
    ProbeProcess& primary = startPrimary();

    EXPECT_EQ(runSecondary(QStringLiteral("show")), QStringLiteral("1"));
    ASSERT_TRUE(primary.waitForLine(QStringLiteral("received 1 show")));
    EXPECT_EQ(runSecondary(QStringLiteral("show")), QStringLiteral("2"));
    ASSERT_TRUE(primary.waitForLine(QStringLiteral("received 2 show")));

    const QStringList expected{QStringLiteral("server ") + serverName_,    QStringLiteral("primary"),
                               QStringLiteral("instanceStarted"),          QStringLiteral("received 1 show"),
                               QStringLiteral("instanceStarted"),          QStringLiteral("received 2 show")};
    EXPECT_EQ(primary.lines(), expected);
    EXPECT_TRUE(primary.quit());
    EXPECT_EQ(primary.exitCode(), 0);
}

TEST_F(SingleApplicationTest, StartAfterOrderlyExitOfThePrimaryBecomesPrimary) {
    ProbeProcess& first = startPrimary();
    ASSERT_TRUE(first.quit());

    ProbeProcess& second = start();
    EXPECT_TRUE(second.waitForLine(QStringLiteral("primary"))) << second.lines().join('|').toStdString();
}

TEST_F(SingleApplicationTest, StartAfterKilledPrimaryTakesOver) {
    ProbeProcess& killed = startPrimary();
    killed.killHard();  // its mark stays in the block, its pid is gone

    ProbeProcess& successor = start();
    ASSERT_TRUE(successor.waitForLine(QStringLiteral("primary")))
        << successor.lines().join('|').toStdString() << successor.errorOutput().toStdString();

    // And it is a working primary: the next start reaches it.
    EXPECT_EQ(runSecondary(QStringLiteral("again")), QStringLiteral("1"));
    EXPECT_TRUE(successor.waitForLine(QStringLiteral("received 1 again")));
    EXPECT_TRUE(successor.quit());
}

TEST_F(SingleApplicationTest, SharedRecordTracksPrimaryAndSecondariesAndIsClearedAtExit) {
    ProbeProcess& primary = startPrimary();

    RecordSnapshot record = readRecord();
    EXPECT_TRUE(record.primary);
    EXPECT_EQ(record.primaryPid, primary.pid());
    EXPECT_EQ(record.primaryUser, currentUserName().toUtf8());
    EXPECT_EQ(record.secondary, 0U);
    EXPECT_TRUE(record.checksumValid);

    // User-scoped: the server's socket is the owner's alone.
    const QFileInfo socketFile(QDir(QDir::tempPath()).filePath(serverName_));
    ASSERT_TRUE(socketFile.exists());
    EXPECT_TRUE(socketFile.permissions() & QFileDevice::WriteOwner);
    EXPECT_FALSE(socketFile.permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther |
                                              QFileDevice::ReadGroup | QFileDevice::ReadOther));

    runSecondary(QStringLiteral("x"));
    record = readRecord();
    EXPECT_TRUE(record.primary);
    EXPECT_EQ(record.secondary, 1U);
    EXPECT_TRUE(record.checksumValid);

    ASSERT_TRUE(primary.quit());
    record = readRecord();  // our attachment keeps the block alive
    EXPECT_FALSE(record.primary);
    EXPECT_EQ(record.primaryPid, -1);
    EXPECT_TRUE(record.primaryUser.isEmpty());
    EXPECT_EQ(record.secondary, 1U);
    EXPECT_TRUE(record.checksumValid);
}

TEST_F(SingleApplicationTest, InconsistentRecordIsReinitialisedAfterFiveSeconds) {
    ProbeProcess& primary = startPrimary();
    corruptChecksum();  // as if a writer died half-way

    QElapsedTimer waited;
    waited.start();
    ProbeProcess& next = start();
    ASSERT_TRUE(next.waitForLine(QStringLiteral("primary"), 5000 + kWaitMs)) << next.lines().join('|').toStdString();
    EXPECT_GE(waited.elapsed(), 5000);
    EXPECT_TRUE(next.errorOutput().contains(QStringLiteral(
        "SingleApplication: Shared memory block has been in an inconsistent state from more than 5s. "
        "Assuming primary instance failure.")));
    EXPECT_TRUE(readRecord().checksumValid);
    EXPECT_EQ(readRecord().primaryPid, next.pid());
    EXPECT_TRUE(next.quit());
    EXPECT_TRUE(primary.quit());
}

TEST_F(SingleApplicationTest, SecondaryNotAllowedAnnouncesItselfAndExitsWithZero) {
    ProbeProcess& primary = startPrimary();

    ProbeProcess& denied = start({QStringLiteral("--deny-secondary")});
    ASSERT_TRUE(denied.waitForExit());
    EXPECT_EQ(denied.exitCode(), 0);
    EXPECT_TRUE(denied.lines().isEmpty()) << denied.lines().join('|').toStdString();  // ended in its constructor
    EXPECT_TRUE(primary.waitForLine(QStringLiteral("instanceStarted")));
    EXPECT_EQ(readRecord().secondary, 0U);
}

// ---- Raw clients against a probe primary --------------------------------

struct RejectedClientCase {
    const char* label;
    std::function<QByteArray(const QString& serverName)> bytes;
};

void PrintTo(const RejectedClientCase& testCase, std::ostream* out) { *out << testCase.label; }

class RejectedClientTest : public SingleApplicationTest,
                           public ::testing::WithParamInterface<RejectedClientCase> {};

TEST_P(RejectedClientTest, IsDisconnectedWithoutAnySignal) {
    ProbeProcess& primary = startPrimary();
    const int before = primary.lines().size();

    auto client = connectRaw();
    writeAll(*client, GetParam().bytes(serverName_));
    // Closed at once, also when the body it announces never comes.
    EXPECT_TRUE(client->state() == QLocalSocket::UnconnectedState || client->waitForDisconnected(kWaitMs));

    expectOnlyLinesSince(primary, before, {});
}

INSTANTIATE_TEST_SUITE_P(
    Handshakes, RejectedClientTest,
    ::testing::Values(
        RejectedClientCase{"WrongChecksum",
                           [](const QString& name) { return initMessage(name, kSecondaryInstance, 5, 0x0100); }},
        RejectedClientCase{"ForeignName",
                           [](const QString& name) {
                               QString foreign = name;
                               foreign[0] = foreign[0] == 'A' ? 'B' : 'A';
                               return initMessage(foreign, kSecondaryInstance, 5);
                           }},
        RejectedClientCase{"HeaderAnnouncesOneGiB", [](const QString&) { return header(qint64{1} << 30); }},
        RejectedClientCase{"HeaderAnnouncesJustOverTheCap", [](const QString&) { return header(4097); }},
        RejectedClientCase{"HeaderBelowSmallestBody", [](const QString&) { return header(10); }},
        RejectedClientCase{"NegativeHeader", [](const QString&) { return header(-1); }},
        RejectedClientCase{"NameLongerThanBody",
                           [](const QString&) {
                               const QByteArray body =
                                   streamed([](QDataStream& s) { s << quint32{4000}; }) + QByteArray(16, 'x');
                               return header(body.size()) + body;
                           }}),
    [](const ::testing::TestParamInfo<RejectedClientCase>& testCase) { return std::string(testCase.param.label); });

struct AcceptedClientCase {
    const char* label;
    qint8 type;
    bool trickle;  // init message one byte per write, "show" after it
    QStringList expected;
};

void PrintTo(const AcceptedClientCase& testCase, std::ostream* out) { *out << testCase.label; }

class AcceptedClientTest : public SingleApplicationTest,
                           public ::testing::WithParamInterface<AcceptedClientCase> {};

TEST_P(AcceptedClientTest, YieldsTheSignalsOfItsType) {
    const AcceptedClientCase& param = GetParam();
    ProbeProcess& primary = startPrimary();
    const int before = primary.lines().size();

    auto client = connectRaw();
    const QByteArray init = initMessage(serverName_, param.type, 7);
    if (param.trickle) {
        for (const char byte : init) {
            writeAll(*client, QByteArray(1, byte));
            QThread::msleep(2);  // lets the primary see most bytes on their own
        }
        writeAll(*client, "show");
    } else {
        writeAll(*client, init + "show");  // one read on the primary's side
    }
    for (const QString& line : param.expected) {
        ASSERT_TRUE(primary.waitForLine(line)) << primary.lines().join('|').toStdString();
    }
    EXPECT_EQ(client->state(), QLocalSocket::ConnectedState);

    expectOnlyLinesSince(primary, before, param.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Handshakes, AcceptedClientTest,
    ::testing::Values(
        AcceptedClientCase{"SecondaryInOneWrite", kSecondaryInstance, false,
                           {QStringLiteral("instanceStarted"), QStringLiteral("received 7 show")}},
        AcceptedClientCase{"SecondaryByteByByte", kSecondaryInstance, true,
                           {QStringLiteral("instanceStarted"), QStringLiteral("received 7 show")}},
        AcceptedClientCase{"NewInstance", kNewInstance, false,
                           {QStringLiteral("instanceStarted"), QStringLiteral("received 7 show")}},
        AcceptedClientCase{"ReconnectIsNoStart", kReconnect, false, {QStringLiteral("received 7 show")}}),
    [](const ::testing::TestParamInfo<AcceptedClientCase>& testCase) { return std::string(testCase.param.label); });

}  // namespace
