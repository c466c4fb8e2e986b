// The incremental media packet parser.
//
// Wire format, all integers u32 big-endian:
//   pkt_type | expand_len E | E bytes of expand words | payload_len P | P bytes
// video: word 1 = 1, word 2 = key-frame flag;
// audio: word 1 = 2, word 2 = sample rate, word 3 = channels, word 4 = 16 (bits);
// key:   expand area ignored, payload = connection key.
#pragma once

#include <memory>
#include <vector>

#include "parser/stream_audio_packet.h"
#include "parser/stream_packet.h"
#include "parser/stream_packet_buffer.h"
#include "parser/stream_token_packet.h"
#include "parser/stream_video_packet.h"

// The fixed fields of a packet, as read from the wire.
struct StreamPacketHeader {
    uint32_t pktType;
    uint32_t expandLen;
    uint32_t payloadLen;
};

// Size of pkt_type, expand_len and payload_len together.
constexpr uint64_t kStreamPacketFixedSize = 12;

// Appends length bytes of one connection to buffer and appends every
// complete, accepted packet to out, in order; an incomplete tail is kept for
// the next call. Returns false when the stream is broken (the caller ends
// the connection): negative length, more bytes than the buffer holds, a
// packet that can never fit, an unknown type, a video or audio packet whose
// expand area is shorter than one word. Packets appended before a failure
// stay in out. Malformed video/audio packets (wrong type word, short expand
// area, bits per sample other than 16, zero rate or channels) are skipped.
// Called on the connection's reading thread.
bool ParseStreamPackets(StreamPacketBuffer* buffer, const char* data, int length,
                        std::vector<std::unique_ptr<StreamPacket>>* out);
