// Builders for the wire bytes of media packets and command frames, and a
// one-line description of a parsed packet that tests compare.
#pragma once

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace parser_test {

std::string BigEndian32(uint32_t value);

// A packet of the given type with these expand words and payload.
std::string RawPacket(uint32_t type, const std::vector<uint32_t>& expandWords, const std::string& payload);
// Only the 12 + E header bytes (with expandLen zero bytes of expand area),
// claiming payloadLen payload bytes that are not included.
std::string PacketHeader(uint32_t type, uint32_t expandLen, uint32_t payloadLen);

std::string KeyPacket(const std::string& token, const std::vector<uint32_t>& expandWords = {});
std::string VideoPacket(uint32_t keyFrame, const std::string& payload);
std::string AudioPacket(uint32_t sampleRate, uint32_t channels, uint32_t bits, const std::string& payload);

// A payload of n bytes whose content depends on seed, so that mixed-up
// payloads are told apart.
std::string Payload(size_t n, int seed);

std::string CommandFrame(const std::string& json);

// Names the cases of a parameterised test after their "name" field.
struct CaseName {
    template <typename Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& testInfo) const {
        return testInfo.param.name;
    }
};

}  // namespace parser_test

class StreamPacket;
// "key:<token>", "video:<flag>:<bytes>", "audio:<rate>:<channels>:<bytes>".
std::string Describe(const StreamPacket& packet);
