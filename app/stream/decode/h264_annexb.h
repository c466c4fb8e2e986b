// H.264 Annex-B byte streams: splitting an access unit into its NAL units
// and re-packing it for the decoder so that every IDR slice is preceded by
// the latest SPS and PPS. The phone sends its parameter sets once in a
// while, possibly in a packet of their own; the re-pack makes each IDR
// decodable on its own.
//
// Pure functions over caller-owned bytes: no threads, no Qt, no logging,
// so the fuzz target links this file alone. Everything here is hostile
// input: offsets and lengths are checked against the buffer before use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum H264NalUnitType : uint64_t {
    kH264NalSlice = 1,  // a slice of a non-IDR picture
    kH264NalIdrSlice = 5,
    kH264NalSps = 7,
    kH264NalPps = 8,
};

// One NAL unit of an access unit. The start code begins at startCodeOffset
// (4-byte form when a zero byte precedes 00 00 01); the payload, starting
// with the NAL header byte, runs payloadLength bytes from payloadOffset up
// to the next start code or the end of the buffer.
struct NalUnitInfo {
    uint64_t nal_unit_type = 0;
    uint64_t startCodeOffset = 0;
    uint64_t payloadOffset = 0;
    uint64_t payloadLength = 0;
};

inline uint8_t GetNalUnitType(uint8_t headerByte) { return headerByte & 0x1f; }

// Slices and parameter sets one access unit may hold. A picture of a real
// stream has one slice or a few (at most one per macroblock row: 68 at
// 1080p, 135 at 2160p); the decoder spends a few kilobytes on each unit it
// is handed, so an access unit made of thousands of tiny units would cost
// memory out of all proportion to its bytes.
constexpr size_t kH264MaxNalUnitsPerAccessUnit = 256;

// The slices (types 1 and 5) and parameter sets (7 and 8) of an Annex-B
// buffer, in order. Other units (SEI, AUD, ...) are not listed, but they
// still end the unit before them. A buffer with more than
// kH264MaxNalUnitsPerAccessUnit listed units gives an empty list, found
// without scanning past the unit that broke the bound, and sets
// *tooManyUnits when given.
std::vector<NalUnitInfo> SplitNalUnits(const uint8_t* buffer, size_t size, bool* tooManyUnits = nullptr);

// The SPS and PPS payloads in force for a stream (the latest of each seen).
struct H264ParameterSets {
    std::vector<uint8_t> sps;
    std::vector<uint8_t> pps;
};

// Real parameter sets are a few dozen bytes (a few hundred with scaling
// lists); larger ones are not kept, so a hostile stream cannot make every
// IDR slice carry megabytes.
constexpr size_t kH264MaxParameterSetSize = 4096;
// Upper bound of a re-packed access unit; larger ones are dropped.
constexpr size_t kH264MaxRepackedSize = 64u << 20;

struct AccessUnitLayout {
    bool hasSlice = false;     // any unit of type 1 or 5
    bool hasIdr = false;       // any unit of type 5
    bool tooLarge = false;     // the re-pack would exceed kH264MaxRepackedSize
    size_t repackedSize = 0;   // bytes WriteRepackedAccessUnit writes
};

// Measures the re-pack of one access unit. Parameter sets take effect from
// where they appear: an IDR slice is preceded by the SPS and PPS in force at
// its place (the stored ones, or later ones of this same buffer). `units`
// comes from SplitNalUnits over the same buffer.
AccessUnitLayout MeasureRepackedAccessUnit(const uint8_t* buffer, size_t size, const std::vector<NalUnitInfo>& units,
                                           const H264ParameterSets& stored);

// Writes the re-pack into out (capacity bytes) and returns the bytes
// written: each IDR slice as 00 00 00 01 SPS 00 00 00 01 PPS 00 00 00 01
// slice (an empty parameter set is left out), each non-IDR slice as
// 00 00 00 01 slice; parameter sets and other units are not copied. Never
// writes past capacity: when it would, it stops and returns 0.
size_t WriteRepackedAccessUnit(const uint8_t* buffer, size_t size, const std::vector<NalUnitInfo>& units,
                               const H264ParameterSets& stored, uint8_t* out, size_t capacity);

// Stores the last SPS and the last PPS of the buffer (within the size bound)
// as the ones in force. Call after writing the re-pack.
void KeepLatestParameterSets(const uint8_t* buffer, size_t size, const std::vector<NalUnitInfo>& units,
                             H264ParameterSets* stored);
