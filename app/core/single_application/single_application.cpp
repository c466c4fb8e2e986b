#include "core/single_application/single_application.h"

#include "core/single_application/instances_block.h"
#include "core/single_application/single_application_p.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QSharedMemory>

#include <cstdlib>

namespace {

// How long a block may stay inconsistent before its writer is presumed dead.
constexpr qint64 kInconsistentBlockGraceMs = 5000;

}  // namespace

SingleApplication::SingleApplication(int& argc, char** argv, const bool allowSecondary, const int options,
                                     const int timeoutMs)
    : QApplication(argc, argv), d(std::make_unique<SingleApplicationPrivate>(this, options)) {
    d->blockServerName = d->computeBlockServerName();
    d->randomSleep();

    d->memory = std::make_unique<QSharedMemory>(d->blockServerName);
    if (d->memory->create(sizeof(InstancesBlock))) {
        if (!d->memory->lock()) {
            qCritical("SingleApplication: Unable to lock memory block after create.");
            abortSafely();
        }
        d->block()->initialise();
    } else if (d->memory->error() == QSharedMemory::AlreadyExists) {
        if (!d->memory->attach()) {
            qCritical("SingleApplication: Unable to attach to shared memory block.");
            abortSafely();
        }
        if (!d->memory->lock()) {
            qCritical("SingleApplication: Unable to lock memory block after attach.");
            abortSafely();
        }
    } else {
        qCritical("SingleApplication: Unable to create block.");
        abortSafely();
    }

    // A freshly created block is all zeros until its creator initialises it,
    // and a writer may die half-way; wait for a consistent record, and after
    // the grace period assume its writer is gone and start over.
    QElapsedTimer inconsistentFor;
    inconsistentFor.start();
    while (!d->block()->isConsistent()) {
        if (inconsistentFor.elapsed() > kInconsistentBlockGraceMs) {
            qWarning("SingleApplication: Shared memory block has been in an inconsistent state from more than 5s. "
                     "Assuming primary instance failure.");
            d->block()->initialise();
        }
        if (!d->memory->unlock()) {
            qDebug().noquote() << "SingleApplication: Unable to unlock memory for random wait."
                               << d->memory->errorString();
        }
        d->randomSleep();
        if (!d->memory->lock()) {
            qCritical("SingleApplication: Unable to lock memory after random wait.");
            abortSafely();
        }
    }

    // A primary killed without its orderly exit leaves its mark in the block
    // (the System V block outlives it); its pid no longer exists, so take
    // over instead of registering with a primary nobody will ever answer for.
    // A pid reused by an unrelated process, or a live primary that does not
    // answer, is not detected here.
    const InstancesBlock* const record = d->block();
    if (!record->primary || !SingleApplicationPrivate::isProcessAlive(record->primaryPid)) {
        d->startPrimary();
        if (!d->memory->unlock()) {
            qDebug().noquote() << "SingleApplication: Unable to unlock memory after primary start."
                               << d->memory->errorString();
        }
        return;
    }

    if (!allowSecondary) {
        if (!d->memory->unlock()) {
            qDebug().noquote() << "SingleApplication: Unable to unlock memory at end of execution."
                               << d->memory->errorString();
        }
        d->connectToPrimary(timeoutMs, SingleApplicationPrivate::ConnectionType::NewInstance);
        d.reset();
        std::exit(EXIT_SUCCESS);
    }

    d->startSecondary();
    // Unlock before talking to the primary: holding the system lock through
    // a connection wait would stall every other start, and a primary that is
    // exiting (it locks the block in its teardown) for the whole time-out.
    if (!d->memory->unlock()) {
        qDebug().noquote() << "SingleApplication: Unable to unlock memory after secondary start."
                           << d->memory->errorString();
    }
    if (options & NotifyPrimaryOnSecondary) {
        d->connectToPrimary(timeoutMs, SingleApplicationPrivate::ConnectionType::SecondaryInstance);
    }
}

SingleApplication::~SingleApplication() = default;

bool SingleApplication::isSecondary() const {
    return !d->isPrimary();
}

quint32 SingleApplication::instanceId() const {
    return d->instanceNumber;
}

QString SingleApplication::blockServerName() const {
    return d->blockServerName;
}

bool SingleApplication::sendMessage(const QByteArray& message, const int timeoutMs) {
    if (d->isPrimary()) {
        return false;
    }
    if (!d->connectToPrimary(timeoutMs, SingleApplicationPrivate::ConnectionType::Reconnect)) {
        return false;
    }
    d->socket->write(message);
    const bool written = d->socket->waitForBytesWritten(timeoutMs);
    d->socket->flush();
    return written;
}

void SingleApplication::abortSafely() {
    if (d->memory) {
        qCritical().noquote().nospace() << "SingleApplication: " << static_cast<int>(d->memory->error()) << ' '
                                        << d->memory->errorString();
    }
    d.reset();
    std::exit(EXIT_FAILURE);
}
