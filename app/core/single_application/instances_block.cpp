#include "core/single_application/instances_block.h"

#include <cstring>

quint16 InstancesBlock::computeChecksum() const {
    return qChecksum(reinterpret_cast<const char*>(this), offsetof(InstancesBlock, checksum));
}

bool InstancesBlock::isConsistent() const {
    return checksum == computeChecksum();
}

void InstancesBlock::initialise() {
    std::memset(static_cast<void*>(this), 0, sizeof(InstancesBlock));
    primaryPid = -1;
    checksum = computeChecksum();
}

void InstancesBlock::markPrimary(const qint64 pid, const QByteArray& userNameUtf8) {
    const QByteArray user = truncatedUserName(userNameUtf8);
    primary = true;
    primaryPid = pid;
    std::memset(primaryUser, 0, sizeof primaryUser);
    std::memcpy(primaryUser, user.constData(), static_cast<size_t>(user.size()));
    checksum = computeChecksum();
}

void InstancesBlock::clearPrimary() {
    primary = false;
    primaryPid = -1;
    primaryUser[0] = '\0';
    checksum = computeChecksum();
}

quint32 InstancesBlock::registerSecondary() {
    secondary += 1;
    checksum = computeChecksum();
    return secondary;
}

QByteArray InstancesBlock::truncatedUserName(const QByteArray& userNameUtf8) {
    // An embedded NUL would end the stored C string anyway.
    const int nul = userNameUtf8.indexOf('\0');
    const QByteArray name = nul < 0 ? userNameUtf8 : userNameUtf8.left(nul);
    constexpr int kMaxBytes = kUserNameCapacity - 1;
    if (name.size() <= kMaxBytes) {
        return name;
    }
    // Back off while the first byte left out continues a multi-byte sequence,
    // so the cut never leaves half a character behind.
    int cut = kMaxBytes;
    while (cut > 0 && (static_cast<unsigned char>(name.at(cut)) & 0xC0U) == 0x80U) {
        --cut;
    }
    return name.left(cut);
}
