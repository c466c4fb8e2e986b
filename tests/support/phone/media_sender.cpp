#include "support/phone/media_sender.h"

#include "support/phone/media_packet.h"

namespace zucam::phone {

bool MediaSender::connect(const std::string& host, uint16_t port, Millis timeout) {
    bytesSent_ = 0;
    return stream_.connect(host, port, timeout);
}

bool MediaSender::sendKey(std::string_view key, Millis timeout) {
    return sendRawBytes(MediaPacket::key(key), timeout);
}

bool MediaSender::sendVideo(std::string_view accessUnit, bool keyFrame, Millis timeout) {
    return sendRawBytes(MediaPacket::video(accessUnit, keyFrame), timeout);
}

bool MediaSender::sendAudio(const std::vector<int16_t>& interleaved, int sampleRate, int channels,
                            Millis timeout) {
    return sendRawBytes(
        MediaPacket::audio(interleaved, static_cast<uint32_t>(sampleRate), static_cast<uint32_t>(channels)),
        timeout);
}

bool MediaSender::sendRawBytes(std::string_view bytes, Millis timeout) {
    if (!stream_.sendAll(bytes, timeout)) return false;
    bytesSent_ += bytes.size();
    return true;
}

bool MediaSender::waitClosed(Millis timeout) { return stream_.waitClosed(timeout); }

}  // namespace zucam::phone
