#include "core/single_application/single_application_p.h"

#include "core/single_application/instances_block.h"
#include "core/single_application/single_application.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QDebug>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSharedMemory>
#include <QThread>

#include <cerrno>
#include <limits>
#include <vector>

#include <pwd.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_5_6;

void prepareStream(QDataStream& stream) {
    stream.setVersion(kStreamVersion);
    stream.setByteOrder(QDataStream::BigEndian);
}

quint32 randomSeed() {
    // Wall-clock milliseconds as the seed; the pid is mixed in so that two
    // instances started in the same millisecond still wait differently.
    const auto msecs = static_cast<quint64>(QDateTime::currentMSecsSinceEpoch());
    const auto timeSeed = static_cast<quint32>(msecs % 4294967295ULL);
    return timeSeed ^ static_cast<quint32>(QCoreApplication::applicationPid());
}

}  // namespace

SingleApplicationPrivate::SingleApplicationPrivate(SingleApplication* const ownerApp, const int modeOptions)
    : owner(ownerApp), options(modeOptions), random_(randomSeed()) {}

SingleApplicationPrivate::~SingleApplicationPrivate() {
    if (socket) {
        socket->close();
        socket.reset();
    }
    if (!memory) {
        return;
    }
    if (memory->isAttached()) {
        const bool locked = memory->lock();
        if (server) {
            dropAllClients();
            server->close();
            server.reset();
            // Without the lock another instance may be reading the record;
            // leaving the mark is then the lesser evil, because a later start
            // takes over from a primary whose process is gone.
            if (locked) {
                block()->clearPrimary();
            }
        }
        if (locked && !memory->unlock()) {
            qDebug().noquote() << "SingleApplication: Unable to unlock memory at end of execution."
                               << memory->errorString();
        }
    }
    memory.reset();
}

QString SingleApplicationPrivate::userName() {
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<size_t>(suggested > 0 ? suggested : 16384));
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr && found->pw_name[0] != '\0') {
        return QString::fromLocal8Bit(found->pw_name);
    }
    const QString user = qEnvironmentVariable("USER");
    if (!user.isEmpty()) {
        return user;
    }
    return qEnvironmentVariable("USERNAME");
}

bool SingleApplicationPrivate::isProcessAlive(const qint64 pid) {
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max()) {
        return false;  // no process could have recorded this
    }
    if (pid == QCoreApplication::applicationPid()) {
        return false;  // the dead primary's pid was reused by this very process
    }
    // EPERM means the process exists but belongs to someone else.
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

QString SingleApplicationPrivate::computeBlockServerName() const {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData("SingleApplication", 17);
    hash.addData(QCoreApplication::applicationName().toUtf8());
    hash.addData(QCoreApplication::organizationName().toUtf8());
    hash.addData(QCoreApplication::organizationDomain().toUtf8());
    if (!(options & SingleApplication::OmitVersionFromName)) {
        hash.addData(QCoreApplication::applicationVersion().toUtf8());
    }
    if (!(options & SingleApplication::OmitPathFromName)) {
        hash.addData(QCoreApplication::applicationFilePath().toLower().toUtf8());
    }
    if (options & SingleApplication::UserScoped) {
        hash.addData(userName().toUtf8());
    }
    // Base64 may contain '/', which cannot appear in a file name.
    return QString::fromLatin1(hash.result().toBase64().replace('/', '_'));
}

void SingleApplicationPrivate::randomSleep() {
    QThread::msleep(8 + random_.bounded(11U));
}

InstancesBlock* SingleApplicationPrivate::block() const {
    return static_cast<InstancesBlock*>(memory->data());
}

void SingleApplicationPrivate::startPrimary() {
    block()->markPrimary(QCoreApplication::applicationPid(), userName().toUtf8());
    instanceNumber = 0;

    // A primary that crashed leaves its socket file behind; listen would fail.
    QLocalServer::removeServer(blockServerName);
    server = std::make_unique<QLocalServer>();
    server->setSocketOptions((options & SingleApplication::UserScoped) ? QLocalServer::UserAccessOption
                                                                        : QLocalServer::WorldAccessOption);
    connect(server.get(), &QLocalServer::newConnection, this, &SingleApplicationPrivate::slotConnectionEstablished);
    if (!server->listen(blockServerName)) {
        qWarning().noquote() << "SingleApplication: Unable to listen on the local server:" << server->errorString();
    }
}

void SingleApplicationPrivate::startSecondary() {
    instanceNumber = block()->registerSecondary();
}

QByteArray SingleApplicationPrivate::initMessageBody(const ConnectionType type) const {
    QByteArray body;
    QDataStream stream(&body, QIODevice::WriteOnly);
    prepareStream(stream);
    stream << blockServerName.toLatin1();
    stream << static_cast<qint8>(type);
    stream << static_cast<qint32>(instanceNumber);
    // The stream writes straight into body, so it holds everything so far.
    stream << qChecksum(body.constData(), static_cast<uint>(body.size()));
    return body;
}

bool SingleApplicationPrivate::connectToPrimary(const int timeoutMs, const ConnectionType type) {
    QElapsedTimer time;
    time.start();

    if (!socket) {
        socket = std::make_unique<QLocalSocket>();
    }
    if (socket->state() == QLocalSocket::ConnectedState) {
        return true;  // introduced already
    }

    for (;;) {
        randomSleep();
        if (socket->state() != QLocalSocket::ConnectingState) {
            socket->connectToServer(blockServerName, QIODevice::ReadWrite);
        }
        if (socket->state() == QLocalSocket::ConnectingState) {
            const qint64 remaining = timeoutMs - time.elapsed();
            if (remaining > 0) {
                socket->waitForConnected(static_cast<int>(remaining));
            }
        }
        if (socket->state() == QLocalSocket::ConnectedState) {
            break;
        }
        if (time.elapsed() >= timeoutMs) {
            return false;
        }
    }

    const QByteArray body = initMessageBody(type);
    QByteArray header;
    {
        QDataStream stream(&header, QIODevice::WriteOnly);
        prepareStream(stream);
        stream << static_cast<qint64>(body.size());
    }
    socket->write(header);
    socket->write(body);
    const qint64 remaining = qMax<qint64>(0, timeoutMs - time.elapsed());
    const bool written = socket->waitForBytesWritten(static_cast<int>(remaining));
    socket->flush();
    return written;
}

void SingleApplicationPrivate::slotConnectionEstablished() {
    while (server && server->hasPendingConnections()) {
        QLocalSocket* const client = server->nextPendingConnection();  // child of server
        connectionMap.insert(client, ConnectionInfo{});

        connect(client, &QLocalSocket::aboutToClose, this, [this, client] {
            const auto it = connectionMap.constFind(client);
            if (it != connectionMap.constEnd() && it->stage == ConnectionStage::Connected) {
                slotClientConnectionClosed(client, it->instanceId);
            }
        });
        connect(client, &QLocalSocket::disconnected, this, [this, client] {
            connectionMap.remove(client);
            client->deleteLater();
        });
        connect(client, &QLocalSocket::readyRead, this, [this, client] { onClientReadyRead(client); });
    }
}

void SingleApplicationPrivate::slotDataAvailable(QLocalSocket* const dataSocket, const quint32 instanceId) {
    const QByteArray message = dataSocket->readAll();
    Q_EMIT owner->receivedMessage(instanceId, message);
}

void SingleApplicationPrivate::slotClientConnectionClosed(QLocalSocket* const closedSocket, const quint32 instanceId) {
    if (closedSocket->bytesAvailable() > 0) {
        slotDataAvailable(closedSocket, instanceId);
    }
}

void SingleApplicationPrivate::onClientReadyRead(QLocalSocket* const client) {
    const auto it = connectionMap.constFind(client);
    if (it == connectionMap.constEnd()) {
        return;
    }
    switch (it->stage) {
    case ConnectionStage::Header:
        if (readInitHeader(client) != InitProgress::Complete) {
            return;
        }
        Q_FALLTHROUGH();
    case ConnectionStage::Body: {
        ConnectionType type = ConnectionType::Reconnect;
        if (readInitBody(client, &type) != InitProgress::Complete) {
            return;
        }
        const quint32 instanceId = connectionMap.value(client).instanceId;
        if (type == ConnectionType::NewInstance ||
            (type == ConnectionType::SecondaryInstance && (options & SingleApplication::NotifyPrimaryOnSecondary))) {
            Q_EMIT owner->instanceStarted();
        }
        // A receiver may have run an event loop in which the client went away.
        if (connectionMap.contains(client) && client->bytesAvailable() > 0) {
            slotDataAvailable(client, instanceId);
        }
        return;
    }
    case ConnectionStage::Connected:
        slotDataAvailable(client, it->instanceId);
        return;
    }
}

SingleApplicationPrivate::InitProgress SingleApplicationPrivate::readInitHeader(QLocalSocket* const client) {
    constexpr qint64 kHeaderBytes = sizeof(qint64);
    if (client->bytesAvailable() < kHeaderBytes) {
        return InitProgress::NeedMore;
    }
    QDataStream stream(client->read(kHeaderBytes));
    prepareStream(stream);
    qint64 length = 0;
    stream >> length;
    if (stream.status() != QDataStream::Ok || length < kMinInitBodyBytes || length > kMaxInitBodyBytes) {
        rejectClient(client);
        return InitProgress::Rejected;
    }
    ConnectionInfo& info = connectionMap[client];
    info.messageLength = static_cast<quint64>(length);
    info.stage = ConnectionStage::Body;
    return client->bytesAvailable() >= length ? InitProgress::Complete : InitProgress::NeedMore;
}

SingleApplicationPrivate::InitProgress SingleApplicationPrivate::readInitBody(QLocalSocket* const client,
                                                                              ConnectionType* const type) {
    const auto length = static_cast<qint64>(connectionMap.value(client).messageLength);
    if (client->bytesAvailable() < length) {
        return InitProgress::NeedMore;
    }
    const QByteArray body = client->read(length);
    QDataStream stream(body);
    prepareStream(stream);
    QByteArray name;
    qint8 connectionType = 0;
    qint32 instanceId = 0;
    quint16 checksum = 0;
    stream >> name >> connectionType >> instanceId >> checksum;

    const bool wellFormed = stream.status() == QDataStream::Ok && body.size() == length;
    // The name is compared as a C string, up to its first NUL.
    const bool ours = wellFormed && QString::fromLatin1(name.constData()) == blockServerName;
    const bool intact =
        ours && checksum == qChecksum(body.constData(), static_cast<uint>(body.size() - sizeof(quint16)));
    if (!intact) {
        rejectClient(client);
        return InitProgress::Rejected;
    }

    ConnectionInfo& info = connectionMap[client];
    info.instanceId = static_cast<quint32>(instanceId);
    info.stage = ConnectionStage::Connected;
    *type = static_cast<ConnectionType>(connectionType);
    return InitProgress::Complete;
}

void SingleApplicationPrivate::rejectClient(QLocalSocket* const client) {
    qDebug("SingleApplication: Dropped a client with a malformed or foreign init message.");
    connectionMap.remove(client);
    client->disconnect(this);  // no close or disconnect handling for it
    client->abort();
    client->deleteLater();
}

void SingleApplicationPrivate::dropAllClients() {
    for (auto it = connectionMap.constBegin(); it != connectionMap.constEnd(); ++it) {
        it.key()->disconnect(this);
    }
    connectionMap.clear();
}
