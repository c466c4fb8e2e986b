// The Annex-B splitter and the SPS/PPS re-pack, on hand-made byte streams.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "decode/h264_annexb.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

const Bytes kSc4 = {0, 0, 0, 1};
const Bytes kSc3 = {0, 0, 1};
const Bytes kSps = {0x67, 0x42, 0xc0, 0x1e, 0xda};
const Bytes kPps = {0x68, 0xce, 0x3c, 0x80};
const Bytes kIdr = {0x65, 0x88, 0x84, 0x00, 0x33, 0xff};
const Bytes kSlice = {0x41, 0x9a, 0x02, 0x04};
const Bytes kSei = {0x06, 0x05, 0x11, 0x22, 0x80};
const Bytes kAud = {0x09, 0xf0};

std::vector<NalUnitInfo> Split(const Bytes& bytes) { return SplitNalUnits(bytes.data(), bytes.size()); }

// Every start code, found the slow way: each 00 00 01 with a byte after it,
// widened to four bytes over a zero in front. Only the kept types listed.
std::vector<NalUnitInfo> SplitSlowly(const Bytes& b) {
    struct Found {
        size_t start;
        size_t payload;
    };
    std::vector<Found> codes;
    for (size_t j = 0; j + 3 < b.size(); ++j) {
        if (b[j] == 0 && b[j + 1] == 0 && b[j + 2] == 1) {
            codes.push_back({(j > 0 && b[j - 1] == 0) ? j - 1 : j, j + 3});
            j += 2;  // the payload byte may itself begin the next start code
        }
    }
    std::vector<NalUnitInfo> units;
    for (size_t k = 0; k < codes.size(); ++k) {
        const uint8_t type = b[codes[k].payload] & 0x1f;
        if (type != 1 && type != 5 && type != 7 && type != 8) continue;
        const size_t end = k + 1 < codes.size() ? codes[k + 1].start : b.size();
        units.push_back({type, codes[k].start, codes[k].payload, end - codes[k].payload});
    }
    return units;
}

std::string Describe(const std::vector<NalUnitInfo>& units) {
    std::string text;
    for (const NalUnitInfo& u : units) {
        text += "{type " + std::to_string(u.nal_unit_type) + " sc " + std::to_string(u.startCodeOffset) + " at " +
                std::to_string(u.payloadOffset) + " len " + std::to_string(u.payloadLength) + "} ";
    }
    return text;
}

TEST(H264Split, ParameterSetsAndIdrWithMixedStartCodes) {
    const Bytes stream = Cat({kSc4, kSps, kSc4, kPps, kSc3, kIdr});
    const std::vector<NalUnitInfo> units = Split(stream);
    ASSERT_EQ(units.size(), 3u) << Describe(units);
    EXPECT_EQ(units[0].nal_unit_type, 7u);
    EXPECT_EQ(units[0].startCodeOffset, 0u);
    EXPECT_EQ(units[0].payloadOffset, 4u);
    EXPECT_EQ(units[0].payloadLength, kSps.size());
    EXPECT_EQ(units[1].nal_unit_type, 8u);
    EXPECT_EQ(units[1].startCodeOffset, 4 + kSps.size());
    EXPECT_EQ(units[1].payloadLength, kPps.size());
    EXPECT_EQ(units[2].nal_unit_type, 5u);
    EXPECT_EQ(units[2].startCodeOffset, 8 + kSps.size() + kPps.size());
    EXPECT_EQ(units[2].payloadOffset, units[2].startCodeOffset + 3);
    EXPECT_EQ(units[2].payloadLength, kIdr.size());
}

struct SplitCase {
    const char* name;
    Bytes stream;
    std::vector<NalUnitInfo> expected;
};

TEST(H264Split, EdgeCases) {
    const std::vector<SplitCase> cases = {
        {"empty", {}, {}},
        {"shorter than four bytes", {0, 0, 1}, {}},
        {"no start code", {0x65, 0x00, 0x00, 0x02, 0x00, 0x03}, {}},
        {"unit at the very end has one byte", {0x11, 0, 0, 1, 0x65}, {{5, 1, 4, 1}}},
        {"start code without a byte after it", {0x65, 0x10, 0, 0, 1}, {}},
        {"nal_ref_idc bits do not change the type", Cat({kSc3, {0x27, 1}, kSc3, {0x28, 2}}),
         {{7, 0, 3, 2}, {8, 5, 8, 2}}},
        // SEI and AUD are not listed, yet they end the slice in front.
        {"skipped units end the previous one", Cat({kSc4, kAud, kSc4, kSlice, kSc3, kSei, kSc4, kIdr}),
         {{1, 6, 10, 4}, {5, 22, 26, 6}}},
        // A zero in front of 00 00 01 belongs to the next start code; any
        // further trailing zeros stay with the unit before.
        {"trailing zeros", Cat({kSc3, {0x65, 0xaa, 0, 0}, kSc4, {0x41}}), {{5, 0, 3, 4}, {1, 7, 11, 1}}},
        {"emulation prevention is not a start code", Cat({kSc3, {0x65, 0, 0, 3, 1, 0, 0, 3, 0}}),
         {{5, 0, 3, 9}}},
        {"zero-type unit right after a start code", {0, 0, 1, 0, 0, 1, 0x65, 0x80}, {{5, 3, 6, 2}}},
        {"long zero run", {0, 0, 0, 0, 0, 0, 1, 0x41, 0x01}, {{1, 3, 7, 2}}},
    };
    for (const SplitCase& c : cases) {
        const std::vector<NalUnitInfo> units = Split(c.stream);
        EXPECT_EQ(Describe(units), Describe(c.expected)) << c.name;
    }
}

// An access unit made of many tiny units (00 00 01 65 over and over) would
// make the decoder spend kilobytes per four bytes received: past the bound
// the split gives nothing, and says why.
TEST(H264Split, UnitsPerAccessUnitAreBounded) {
    const auto repeated = [](const Bytes& unit, size_t times) {
        Bytes all;
        for (size_t n = 0; n < times; ++n) all.insert(all.end(), unit.begin(), unit.end());
        return all;
    };
    const Bytes tiny = Cat({kSc3, {0x65}});
    struct BoundCase {
        const char* name;
        Bytes stream;
        size_t listed;
        bool tooMany;
    };
    const BoundCase cases[] = {
        {"at the bound", repeated(tiny, kH264MaxNalUnitsPerAccessUnit), kH264MaxNalUnitsPerAccessUnit, false},
        {"one past the bound", repeated(tiny, kH264MaxNalUnitsPerAccessUnit + 1), 0, true},
        {"a megabyte of them", repeated(tiny, 1 << 18), 0, true},
        {"parameter sets count too", Cat({repeated(Cat({kSc4, kSps, kSc4, kPps}), 128), kSc4, kIdr}), 0, true},
        // Units that are not listed cost the decoder nothing.
        {"skipped units do not count", Cat({repeated(Cat({kSc3, {0x06, 0x05}}), 4096), kSc4, kIdr}), 1, false},
    };
    for (const BoundCase& c : cases) {
        SCOPED_TRACE(c.name);
        bool tooMany = !c.tooMany;
        const std::vector<NalUnitInfo> units = SplitNalUnits(c.stream.data(), c.stream.size(), &tooMany);
        EXPECT_EQ(units.size(), c.listed);
        EXPECT_EQ(tooMany, c.tooMany);
    }
}

// The scan skips ahead by up to three bytes; over random streams made of
// the bytes that matter (0, 1, headers, filler) it must find exactly what a
// byte-by-byte search finds.
TEST(H264Split, AgreesWithByteByByteSearch) {
    const uint8_t alphabet[] = {0, 0, 0, 1, 2, 3, 0x65, 0x41, 0x67, 0x68, 0x06, 0x09, 0xff};
    std::mt19937 random(1234);
    std::uniform_int_distribution<size_t> pick(0, sizeof alphabet - 1);
    std::uniform_int_distribution<size_t> length(0, 64);
    for (int round = 0; round < 20000; ++round) {
        Bytes stream(length(random));
        for (uint8_t& byte : stream) byte = alphabet[pick(random)];
        ASSERT_EQ(Describe(Split(stream)), Describe(SplitSlowly(stream)))
            << "round " << round << " size " << stream.size();
    }
}

// Re-packs `stream` into a buffer of exactly the measured size (ASan sees
// any write past it) and checks that the writer filled it completely.
Bytes Repack(const Bytes& stream, const H264ParameterSets& stored, AccessUnitLayout* layout = nullptr) {
    const std::vector<NalUnitInfo> units = Split(stream);
    const AccessUnitLayout measured = MeasureRepackedAccessUnit(stream.data(), stream.size(), units, stored);
    if (layout != nullptr) *layout = measured;
    auto out = std::make_unique<uint8_t[]>(measured.repackedSize);
    const size_t written =
        WriteRepackedAccessUnit(stream.data(), stream.size(), units, stored, out.get(), measured.repackedSize);
    EXPECT_EQ(written, measured.repackedSize);
    return Bytes(out.get(), out.get() + written);
}

H264ParameterSets Stored(const Bytes& sps, const Bytes& pps) { return {sps, pps}; }

TEST(H264Repack, IdrSlicesCarryTheParameterSetsInForce) {
    const Bytes otherSps = {0x67, 0x64, 0x00, 0x28};
    struct Case {
        const char* name;
        Bytes stream;
        H264ParameterSets stored;
        Bytes expected;
    };
    const std::vector<Case> cases = {
        {"in-band sets move in front of the IDR", Cat({kSc4, kAud, kSc4, kSps, kSc4, kPps, kSc3, kSei, kSc3, kIdr}),
         {}, Cat({kSc4, kSps, kSc4, kPps, kSc4, kIdr})},
        {"stored sets for an IDR without its own", Cat({kSc3, kIdr}), Stored(kSps, kPps),
         Cat({kSc4, kSps, kSc4, kPps, kSc4, kIdr})},
        {"non-IDR slices get a 4-byte start code only", Cat({kSc3, kSlice, kSc3, kSei, kSc3, kSlice}),
         Stored(kSps, kPps), Cat({kSc4, kSlice, kSc4, kSlice})},
        {"every IDR slice of the unit", Cat({kSc3, kIdr, kSc3, kIdr}), Stored(kSps, kPps),
         Cat({kSc4, kSps, kSc4, kPps, kSc4, kIdr, kSc4, kSps, kSc4, kPps, kSc4, kIdr})},
        {"a set after an IDR applies to the IDRs after it", Cat({kSc3, kIdr, kSc3, otherSps, kSc3, kIdr}),
         Stored(kSps, kPps), Cat({kSc4, kSps, kSc4, kPps, kSc4, kIdr, kSc4, otherSps, kSc4, kPps, kSc4, kIdr})},
        {"unknown sets are left out", Cat({kSc3, kIdr}), {}, Cat({kSc4, kIdr})},
        {"parameter sets alone give nothing", Cat({kSc4, kSps, kSc4, kPps}), {}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Repack(c.stream, c.stored), c.expected) << c.name;
    }
}

TEST(H264Repack, LayoutReportsSlicesAndIdr) {
    AccessUnitLayout layout;
    Repack(Cat({kSc4, kSps, kSc4, kPps}), {}, &layout);
    EXPECT_FALSE(layout.hasSlice);
    EXPECT_FALSE(layout.hasIdr);
    Repack(Cat({kSc4, kSlice}), {}, &layout);
    EXPECT_TRUE(layout.hasSlice);
    EXPECT_FALSE(layout.hasIdr);
    Repack(Cat({kSc4, kSps, kSc4, kIdr}), {}, &layout);
    EXPECT_TRUE(layout.hasSlice);
    EXPECT_TRUE(layout.hasIdr);
    EXPECT_FALSE(layout.tooLarge);
}

// A phone controls every length: parameter sets that grow after the IDR,
// several sets in one unit, sets bigger than anything real. The write must
// fit the measure exactly, and a short buffer must stop the writer.
TEST(H264Repack, HostileParameterSetLengthsStayInsideTheBuffer) {
    Bytes bigSps(3000, 0x5a);
    bigSps[0] = 0x67;
    Bytes hugeSps(kH264MaxParameterSetSize + 1, 0x5a);
    hugeSps[0] = 0x67;
    Bytes bigPps(kH264MaxParameterSetSize, 0x33);
    bigPps[0] = 0x68;
    const std::vector<Bytes> streams = {
        Cat({kSc3, kIdr, kSc3, bigSps, kSc3, bigPps}),
        Cat({kSc3, kIdr, kSc3, bigSps, kSc3, bigPps, kSc3, kIdr, kSc3, kSps, kSc3, kIdr}),
        Cat({kSc3, bigSps, kSc3, kSps, kSc3, kIdr, kSc3, bigPps, kSc3, kIdr}),
        Cat({kSc3, hugeSps, kSc3, kIdr}),
    };
    const H264ParameterSets stored = Stored(kSps, kPps);
    for (size_t n = 0; n < streams.size(); ++n) {
        const Bytes& stream = streams[n];
        const std::vector<NalUnitInfo> units = Split(stream);
        const AccessUnitLayout layout = MeasureRepackedAccessUnit(stream.data(), stream.size(), units, stored);
        const Bytes out = Repack(stream, stored);
        EXPECT_EQ(out.size(), layout.repackedSize) << "stream " << n;

        // One byte short: the writer refuses instead of overrunning.
        auto shortBuffer = std::make_unique<uint8_t[]>(layout.repackedSize - 1);
        EXPECT_EQ(WriteRepackedAccessUnit(stream.data(), stream.size(), units, stored, shortBuffer.get(),
                                          layout.repackedSize - 1),
                  0u)
            << "stream " << n;
    }
    // The oversized SPS is neither carried nor kept.
    const Bytes oversized = Cat({kSc3, hugeSps, kSc3, kIdr});
    EXPECT_EQ(Repack(oversized, stored), Cat({kSc4, kSps, kSc4, kPps, kSc4, kIdr}));
    H264ParameterSets kept = stored;
    KeepLatestParameterSets(oversized.data(), oversized.size(), Split(oversized), &kept);
    EXPECT_EQ(kept.sps, kSps);
}

TEST(H264Repack, RefusesARepackBeyondTheBound) {
    // Each 4-byte IDR unit would carry two 4 KiB parameter sets.
    H264ParameterSets stored;
    stored.sps.assign(kH264MaxParameterSetSize, 0x67);
    stored.pps.assign(kH264MaxParameterSetSize, 0x68);
    // More units than a split lists (it stops at kH264MaxNalUnitsPerAccessUnit):
    // the re-pack has its own bound for a list from anywhere else.
    Bytes stream;
    std::vector<NalUnitInfo> units;
    const size_t perUnit = 3 * 4 + 2 * kH264MaxParameterSetSize + 1;
    while (stream.size() / 4 * perUnit <= kH264MaxRepackedSize) {
        units.push_back(NalUnitInfo{kH264NalIdrSlice, stream.size(), stream.size() + 3, 1});
        stream.insert(stream.end(), {0, 0, 1, 0x65});
    }
    const AccessUnitLayout layout = MeasureRepackedAccessUnit(stream.data(), stream.size(), units, stored);
    EXPECT_TRUE(layout.tooLarge);
    EXPECT_EQ(layout.repackedSize, 0u);
}

TEST(H264Repack, UnitsOutsideTheBufferAreIgnored) {
    const Bytes stream = Cat({kSc3, kIdr});
    std::vector<NalUnitInfo> units = Split(stream);
    units.push_back({kH264NalSps, 0, stream.size() - 1, 1000});
    units.push_back({kH264NalSlice, 0, UINT64_MAX, 2});
    const H264ParameterSets stored = Stored(kSps, kPps);
    const AccessUnitLayout layout = MeasureRepackedAccessUnit(stream.data(), stream.size(), units, stored);
    Bytes out(layout.repackedSize);
    EXPECT_EQ(WriteRepackedAccessUnit(stream.data(), stream.size(), units, stored, out.data(), out.size()),
              out.size());
    EXPECT_EQ(out, Cat({kSc4, kSps, kSc4, kPps, kSc4, kIdr}));
    H264ParameterSets kept = stored;
    KeepLatestParameterSets(stream.data(), stream.size(), units, &kept);
    EXPECT_EQ(kept.sps, kSps);
}

TEST(H264Repack, KeepsTheLastSetOfEachKind) {
    const Bytes secondSps = {0x67, 0x01, 0x02};
    const Bytes stream = Cat({kSc4, kSps, kSc4, kPps, kSc4, kIdr, kSc4, secondSps});
    H264ParameterSets kept;
    KeepLatestParameterSets(stream.data(), stream.size(), Split(stream), &kept);
    EXPECT_EQ(kept.sps, secondSps);
    EXPECT_EQ(kept.pps, kPps);

    // A unit without parameter sets leaves the stored ones alone.
    const Bytes slice = Cat({kSc4, kSlice});
    KeepLatestParameterSets(slice.data(), slice.size(), Split(slice), &kept);
    EXPECT_EQ(kept.sps, secondSps);
    EXPECT_EQ(kept.pps, kPps);
}

}  // namespace
