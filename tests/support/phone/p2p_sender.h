// The phone's side of the P2P media path in tests: a UDP socket on loopback
// that sends the program's P2P library its datagrams. A message (usually one
// media packet, from MediaPacket) is cut into fragments of at most
// fragmentBytes, each datagram carrying
//   "ZP2P" | message number u32 | fragment index u16 | fragment count u16
// (big-endian) before its bytes. Tests reorder, drop or duplicate the
// datagrams of a message before they go, or send any bytes raw, to play a
// lossy network or a lying peer. One thread uses a sender at a time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/phone/unique_fd.h"

namespace zucam::phone {

class P2pSender {
public:
    static constexpr uint32_t kMagic = 0x5A503250;

    // Binds an ephemeral loopback port and aims at 127.0.0.1:port.
    bool open(uint16_t port);
    uint16_t localPort() const;

    // The datagrams of one message, in fragment order, with the next
    // message number (which then advances).
    std::vector<std::string> fragment(std::string_view message, size_t fragmentBytes = 1200);
    // One datagram for each fragment header and bytes given.
    static std::string datagram(uint32_t messageNumber, uint16_t index, uint16_t count, std::string_view bytes);

    // Sends each datagram as it stands; false when a send fails.
    bool sendDatagrams(const std::vector<std::string>& datagrams);
    bool sendRaw(std::string_view datagram);
    // fragment + sendDatagrams.
    bool sendMessage(std::string_view message, size_t fragmentBytes = 1200);

    uint32_t nextMessageNumber() const { return next_; }
    void setNextMessageNumber(uint32_t number) { next_ = number; }
    const std::string& lastError() const { return lastError_; }

private:
    UniqueFd socket_;
    uint32_t next_ = 0;  // a session's messages are numbered from 0
    std::string lastError_;
};

// Holds a UDP port on all addresses so that a P2P library cannot bind it.
class HeldUdpPort {
public:
    HeldUdpPort();
    uint16_t port() const { return port_; }  // 0 when nothing could be held

private:
    UniqueFd socket_;
    uint16_t port_ = 0;
};

}  // namespace zucam::phone
