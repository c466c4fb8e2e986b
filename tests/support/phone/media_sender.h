// One media connection of the phone (video or audio): a TCP connection to the
// port from the hello reply that first carries the key packet, then media
// packets. One thread uses a sender at a time; sends wait at most their
// time-out for the program to take the bytes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <string_view>
#include <vector>

#include "support/phone/tcp_stream.h"

namespace zucam::phone {

class MediaSender {
public:
    static constexpr Millis kDefaultTimeout{3000};

    bool connect(const std::string& host, uint16_t port, Millis timeout = kDefaultTimeout);
    bool adopt(UniqueFd socket) { return stream_.adopt(std::move(socket)); }
    bool isOpen() const { return stream_.isOpen(); }
    void close() { stream_.close(); }

    bool sendKey(std::string_view key, Millis timeout = kDefaultTimeout);
    bool sendVideo(std::string_view accessUnit, bool keyFrame, Millis timeout = kDefaultTimeout);
    bool sendAudio(const std::vector<int16_t>& interleaved, int sampleRate, int channels,
                   Millis timeout = kDefaultTimeout);
    bool sendRawBytes(std::string_view bytes, Millis timeout = kDefaultTimeout);
    // True once the program has closed this connection.
    bool waitClosed(Millis timeout = kDefaultTimeout);

    uint64_t bytesSent() const { return bytesSent_; }
    uint16_t localPort() const { return stream_.localPort(); }
    const std::string& lastError() const { return stream_.lastError(); }

private:
    TcpStream stream_;
    uint64_t bytesSent_ = 0;
};

}  // namespace zucam::phone
