#include "parser/stream_video_packet.h"

StreamVideoPacket::StreamVideoPacket(const uint8_t* payload, uint64_t length, uint32_t keyFrame)
    : payload_(payload, length), keyFrame_(keyFrame) {}
