// Phone bytes into the Annex-B splitter and the SPS/PPS re-pack, as the
// decoder thread uses them: the input is cut into access units (chunks
// chosen by the input), and the parameter sets kept from one unit are in
// force for the next. The re-pack goes into a buffer of exactly the measured
// size, so ASan reports any write past it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "decode/h264_annexb.h"
#include "fuzz_chunks.h"

namespace {

// The splitter's promises: units in order, inside the buffer, each payload
// right after its start code and running up to the next one at most.
void CheckUnits(const uint8_t* data, size_t size, const std::vector<NalUnitInfo>& units) {
    uint64_t previousEnd = 0;
    for (const NalUnitInfo& unit : units) {
        const uint64_t startCodeSize = unit.payloadOffset - unit.startCodeOffset;
        if (unit.startCodeOffset < previousEnd || (startCodeSize != 3 && startCodeSize != 4)) std::abort();
        if (unit.payloadOffset >= size || unit.payloadLength == 0 || unit.payloadLength > size - unit.payloadOffset) {
            std::abort();
        }
        if (data[unit.payloadOffset - 1] != 1 || GetNalUnitType(data[unit.payloadOffset]) != unit.nal_unit_type) {
            std::abort();
        }
        previousEnd = unit.payloadOffset + unit.payloadLength;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    H264ParameterSets stored;
    FuzzChunks chunks(data, size);
    const char* chunk = nullptr;
    int length = 0;
    while (chunks.Next(&chunk, &length)) {
        const auto* unit = reinterpret_cast<const uint8_t*>(chunk);
        const size_t unitSize = static_cast<size_t>(length);
        const std::vector<NalUnitInfo> units = SplitNalUnits(unit, unitSize);
        CheckUnits(unit, unitSize, units);

        const AccessUnitLayout layout = MeasureRepackedAccessUnit(unit, unitSize, units, stored);
        if (layout.hasSlice && !layout.tooLarge) {
            std::unique_ptr<uint8_t[]> out(new uint8_t[layout.repackedSize]);
            const size_t written =
                WriteRepackedAccessUnit(unit, unitSize, units, stored, out.get(), layout.repackedSize);
            if (written != layout.repackedSize) std::abort();
            // One byte short must be refused, not overrun.
            if (layout.repackedSize > 0 &&
                WriteRepackedAccessUnit(unit, unitSize, units, stored, out.get(), layout.repackedSize - 1) != 0) {
                std::abort();
            }
        }
        KeepLatestParameterSets(unit, unitSize, units, &stored);
        if (stored.sps.size() > kH264MaxParameterSetSize || stored.pps.size() > kH264MaxParameterSetSize) std::abort();
    }
    return 0;
}
