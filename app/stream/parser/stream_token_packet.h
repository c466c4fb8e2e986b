// StreamTokenPacket: the key packet that opens a media stream. Its token is
// the connection key the phone was given; the receiver compares it byte for
// byte with its own.
#pragma once

#include <string>
#include <utility>

#include "parser/stream_packet.h"

class StreamTokenPacket final : public StreamPacket {
public:
    explicit StreamTokenPacket(std::string token) : token_(std::move(token)) {}

    int GetType() const override { return kStreamPacketKey; }
    const std::string& token() const { return token_; }

private:
    std::string token_;
};
