// A TCP connection with a time-out on every wait, the transport under the
// command channel and the media connections. The socket is non-blocking and
// TCP_NODELAY, so each send leaves as its own segment (tests rely on that to
// split a frame over several writes). One thread uses a TcpStream at a time;
// it owns its socket and closes it on destruction.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/phone/unique_fd.h"

namespace zucam::phone {

using Millis = std::chrono::milliseconds;

enum class ReadStatus { Data, TimedOut, Closed, Failed };

class TcpStream {
public:
    TcpStream() = default;

    // host is a dotted IPv4 address; no name look-up.
    bool connect(const std::string& host, uint16_t port, Millis timeout);
    // Takes over an accepted connection (the phone's side when the program
    // connects to the phone, as over iOS USB).
    bool adopt(UniqueFd socket);
    bool isOpen() const { return socket_.valid(); }

    // Sends every byte, waiting at most timeout in total for the peer to
    // take them. False on time-out or error; part of the bytes may be gone.
    bool sendAll(std::string_view bytes, Millis timeout);

    // Appends what arrives (at most maxBytes) once anything does.
    ReadStatus readSome(std::string& appendTo, std::size_t maxBytes, Millis timeout);

    // True once the peer has closed (or reset) the connection within
    // timeout. Bytes that arrive meanwhile go to received when given,
    // otherwise they are dropped.
    bool waitClosed(Millis timeout, std::string* received = nullptr);

    void shutdownWrite();
    void close();
    // Closes with a reset instead of the orderly end (SO_LINGER 0): the peer
    // sees ECONNRESET, as from a crashed or killed client.
    void resetClose();
    uint16_t localPort() const;
    // Bytes written but not yet taken by the peer (SIOCOUTQ); -1 once the
    // connection is no longer established (closed by either side).
    int unsentBytes() const;
    const std::string& lastError() const { return lastError_; }

private:
    bool fail(const std::string& what);

    UniqueFd socket_;
    std::string lastError_;
};

}  // namespace zucam::phone
