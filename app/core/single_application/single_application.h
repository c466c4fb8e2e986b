// The application object that keeps one primary instance of the program per
// user. Instances of the same program share a small named memory block that
// records whether a primary runs; the primary listens on a local socket
// server of the same name, and later (secondary) instances connect to it,
// introduce themselves and may send it free-form messages.
//
// Everything here runs on the GUI thread; the memory block's system lock
// serialises the instances between processes.
#pragma once

#include <QApplication>
#include <QByteArray>
#include <QString>

#include <memory>

class SingleApplicationPrivate;

class SingleApplication : public QApplication {
    Q_OBJECT

public:
    // Bits of the options argument.
    enum Mode : int {
        // The user name enters the block name and the server accepts only
        // the same user; otherwise everyone may connect.
        UserScoped = 1,
        // A secondary announces itself to the primary at start.
        NotifyPrimaryOnSecondary = 4,
        OmitVersionFromName = 8,
        OmitPathFromName = 16,
    };

    // Becomes primary, or registers as secondary. With allowSecondary false a
    // later instance tells the primary it started and ends the process with
    // code 0. Failures of the memory block end the process with code 1.
    SingleApplication(int& argc, char** argv, bool allowSecondary, int options, int timeoutMs);
    ~SingleApplication() override;

    SingleApplication(const SingleApplication&) = delete;
    SingleApplication& operator=(const SingleApplication&) = delete;

    // True when this instance is not the primary (it runs no server).
    bool isSecondary() const;

    // 0 in the primary, the registration number (1, 2, ...) in a secondary.
    quint32 instanceId() const;

    // Names both the memory block and the primary's local server.
    QString blockServerName() const;

    // Sends the bytes to the primary; false in the primary itself, and when
    // the primary cannot be reached or the bytes are not written in time.
    bool sendMessage(const QByteArray& message, int timeoutMs);

Q_SIGNALS:
    // Primary only: a new instance, or an announcing secondary, started.
    void instanceStarted();
    // Primary only: bytes sent by the instance with the given id.
    void receivedMessage(quint32 instanceId, QByteArray message);

private:
    friend class SingleApplicationPrivate;

    // Logs the block's error, tears down and ends the process with code 1.
    [[noreturn]] void abortSafely();

    std::unique_ptr<SingleApplicationPrivate> d;  // owned
};
