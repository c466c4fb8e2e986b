// The record that all instances of one program share through the named
// memory block. It is read and written in place in the block, never copied,
// so the padding bytes (zeroed when the block is created) stay as they are
// and the checksum, which covers them, stays reproducible in every process.
//
// Callers hold the block's system lock around every read or change.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstddef>

struct InstancesBlock {
    // Native layout, shared only between processes of the same build.
    bool primary;             // a primary instance runs
    quint32 secondary;        // secondary instances registered so far
    qint64 primaryPid;        // process id of the primary, -1 when none
    char primaryUser[128];    // primary's user name, UTF-8, NUL-terminated
    quint16 checksum;         // qChecksum over the bytes before this field

    static constexpr int kUserNameCapacity = 128;  // bytes, including the NUL

    quint16 computeChecksum() const;
    bool isConsistent() const;

    // Zero-fills the whole record (padding included), then sets the
    // "no primary" state and the checksum.
    void initialise();

    // Records this process as primary. The user name is cut to at most
    // kUserNameCapacity - 1 bytes without splitting a UTF-8 sequence.
    void markPrimary(qint64 pid, const QByteArray& userNameUtf8);

    // Clears the primary mark at the primary's orderly exit.
    void clearPrimary();

    // Registers one more secondary and returns its number (1 for the first).
    quint32 registerSecondary();

    // The longest prefix of userNameUtf8 that fits kUserNameCapacity - 1
    // bytes and ends on a UTF-8 character boundary.
    static QByteArray truncatedUserName(const QByteArray& userNameUtf8);
};

static_assert(sizeof(InstancesBlock) == 152, "the block layout is shared between processes");
static_assert(offsetof(InstancesBlock, primary) == 0, "block layout");
static_assert(offsetof(InstancesBlock, secondary) == 4, "block layout");
static_assert(offsetof(InstancesBlock, primaryPid) == 8, "block layout");
static_assert(offsetof(InstancesBlock, primaryUser) == 16, "block layout");
static_assert(offsetof(InstancesBlock, checksum) == 144, "block layout");
