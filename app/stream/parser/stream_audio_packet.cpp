#include "parser/stream_audio_packet.h"

StreamAudioPacket::StreamAudioPacket(const uint8_t* payload, uint64_t length, uint32_t sampleRate, uint32_t channels)
    : payload_(payload, length), sampleRate_(sampleRate), channels_(channels) {}
