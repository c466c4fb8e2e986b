// State and protocol behind SingleApplication. Lives on the GUI thread.
//
// Owns the memory block, the socket to the primary (secondary side) and the
// local server (primary side only). Accepted client sockets are children of
// the server and are deleted later when they disconnect or are rejected.
#pragma once

#include <QHash>
#include <QObject>
#include <QRandomGenerator>
#include <QString>

#include <memory>

class QLocalServer;
class QLocalSocket;
class QSharedMemory;
class SingleApplication;
struct InstancesBlock;

class SingleApplicationPrivate : public QObject {
    Q_OBJECT

public:
    enum class ConnectionType : quint8 {
        NewInstance = 1,
        SecondaryInstance = 2,
        Reconnect = 3,
    };

    enum class ConnectionStage : quint8 {
        Header = 0,
        Body = 1,
        Connected = 2,
    };

    struct ConnectionInfo {
        quint64 messageLength = 0;
        quint32 instanceId = 0;
        ConnectionStage stage = ConnectionStage::Header;
    };

    // Bounds on the init message body. The smallest holds an empty name
    // (4-byte length), the type (1), the instance number (4) and the
    // checksum (2); anything announcing more than kMaxInitBodyBytes is not
    // one of ours and is dropped before a byte of it is buffered.
    static constexpr qint64 kMinInitBodyBytes = 4 + 1 + 4 + 2;
    static constexpr qint64 kMaxInitBodyBytes = 4096;

    SingleApplicationPrivate(SingleApplication* owner, int options);
    ~SingleApplicationPrivate() override;

    SingleApplicationPrivate(const SingleApplicationPrivate&) = delete;
    SingleApplicationPrivate& operator=(const SingleApplicationPrivate&) = delete;

    // The user running this process: the password entry of the effective
    // uid, else $USER, else $USERNAME.
    static QString userName();

    // True unless the process certainly no longer exists.
    static bool isProcessAlive(qint64 pid);

    QString computeBlockServerName() const;

    // Sleeps 8 to 18 ms so that instances started together fall apart.
    void randomSleep();

    // The record in the attached block; valid while memory is attached.
    InstancesBlock* block() const;

    // Both run with the block locked.
    void startPrimary();
    void startSecondary();

    // Connects to the primary's server and sends the init message once.
    bool connectToPrimary(int timeoutMs, ConnectionType type);

    bool isPrimary() const { return server != nullptr; }

    SingleApplication* const owner;  // borrowed; owns this object
    const int options;
    std::unique_ptr<QSharedMemory> memory;
    std::unique_ptr<QLocalSocket> socket;  // secondary side
    std::unique_ptr<QLocalServer> server;  // primary side only
    quint32 instanceNumber = 0;
    QString blockServerName;
    QHash<QLocalSocket*, ConnectionInfo> connectionMap;  // accepted clients

public Q_SLOTS:
    void slotConnectionEstablished();
    void slotDataAvailable(QLocalSocket* dataSocket, quint32 instanceId);
    void slotClientConnectionClosed(QLocalSocket* closedSocket, quint32 instanceId);

private:
    enum class InitProgress { NeedMore, Rejected, Complete };

    void onClientReadyRead(QLocalSocket* client);
    InitProgress readInitHeader(QLocalSocket* client);
    InitProgress readInitBody(QLocalSocket* client, ConnectionType* type);
    void rejectClient(QLocalSocket* client);
    void dropAllClients();
    QByteArray initMessageBody(ConnectionType type) const;

    QRandomGenerator random_;
};
