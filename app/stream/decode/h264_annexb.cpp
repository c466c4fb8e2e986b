#include "decode/h264_annexb.h"

#include <cstring>

namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

// A byte range of the input or of the stored parameter sets.
struct ByteView {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// A unit's payload, or an empty view when the unit does not lie within the
// buffer (units handed in by a caller that did not split this buffer).
ByteView PayloadOf(const uint8_t* buffer, size_t size, const NalUnitInfo& unit) {
    if (unit.payloadOffset > size || unit.payloadLength > size - unit.payloadOffset) return {};
    return {buffer + unit.payloadOffset, static_cast<size_t>(unit.payloadLength)};
}

// The SPS and PPS in force while walking an access unit in order: they
// start as the stored ones and follow the unit's own parameter sets.
// Measure, write and keep all walk with this, so they agree on what each
// IDR slice carries.
class ParameterSetsInForce {
public:
    explicit ParameterSetsInForce(const H264ParameterSets& stored)
        : sps_{stored.sps.data(), stored.sps.size()}, pps_{stored.pps.data(), stored.pps.size()} {}

    void Follow(uint64_t type, const ByteView& payload) {
        if (payload.size == 0 || payload.size > kH264MaxParameterSetSize) return;
        if (type == kH264NalSps) sps_ = payload;
        if (type == kH264NalPps) pps_ = payload;
    }

    const ByteView& sps() const { return sps_; }
    const ByteView& pps() const { return pps_; }

private:
    ByteView sps_;
    ByteView pps_;
};

// Bytes a parameter set adds in front of an IDR slice: none when unknown.
size_t PrefixedSize(const ByteView& set) { return set.size == 0 ? 0 : sizeof kStartCode + set.size; }

// Appends to a fixed buffer; once an append does not fit, nothing more is
// written and the writer reports failure.
class BoundedWriter {
public:
    BoundedWriter(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}

    void Append(const uint8_t* data, size_t size) {
        if (failed_ || size > capacity_ - used_) {
            failed_ = true;
            return;
        }
        if (size > 0) std::memcpy(out_ + used_, data, size);
        used_ += size;
    }
    void AppendUnit(const ByteView& payload) {
        Append(kStartCode, sizeof kStartCode);
        Append(payload.data, payload.size);
    }

    size_t written() const { return failed_ ? 0 : used_; }

private:
    uint8_t* out_;
    size_t capacity_;
    size_t used_ = 0;
    bool failed_ = false;
};

}  // namespace

std::vector<NalUnitInfo> SplitNalUnits(const uint8_t* buffer, size_t size, bool* tooManyUnits) {
    if (tooManyUnits != nullptr) *tooManyUnits = false;
    std::vector<NalUnitInfo> units;
    if (buffer == nullptr || size < 4) return units;

    // Index of the entry whose length is still open: it ends at the next
    // start code, whatever that unit's type.
    size_t open = 0;
    bool hasOpen = false;
    size_t i = 0;
    // Byte i+2 is where the 01 of a start code beginning at i would be. A
    // byte above 1 there also rules out a 01 at i+3 or i+4 (both need a zero
    // at i+2), so the scan moves on by 3.
    while (i < size - 3) {
        const uint8_t third = buffer[i + 2];
        if (third > 1) {
            i += 3;
        } else if (third == 0) {
            i += 1;
        } else if (buffer[i] != 0 || buffer[i + 1] != 0) {
            i += 3;
        } else {
            const size_t startCode = (i > 0 && buffer[i - 1] == 0) ? i - 1 : i;
            const size_t payload = i + 3;
            if (hasOpen) units[open].payloadLength = startCode - units[open].payloadOffset;
            hasOpen = false;
            const uint8_t type = GetNalUnitType(buffer[payload]);
            if (type == kH264NalSlice || type == kH264NalIdrSlice || type == kH264NalSps || type == kH264NalPps) {
                if (units.size() == kH264MaxNalUnitsPerAccessUnit) {
                    if (tooManyUnits != nullptr) *tooManyUnits = true;
                    return {};
                }
                NalUnitInfo unit;
                unit.nal_unit_type = type;
                unit.startCodeOffset = startCode;
                unit.payloadOffset = payload;
                open = units.size();
                hasOpen = true;
                units.push_back(unit);
            }
            i += 3;
        }
    }
    if (hasOpen) units[open].payloadLength = size - units[open].payloadOffset;
    return units;
}

AccessUnitLayout MeasureRepackedAccessUnit(const uint8_t* buffer, size_t size, const std::vector<NalUnitInfo>& units,
                                           const H264ParameterSets& stored) {
    AccessUnitLayout layout;
    ParameterSetsInForce inForce(stored);
    size_t total = 0;
    // Each piece is at most the buffer's size or a bounded parameter set,
    // so a piece never overflows; the running total is checked against the
    // bound before every addition.
    const auto add = [&](size_t piece) {
        if (layout.tooLarge || piece > kH264MaxRepackedSize - total) {
            layout.tooLarge = true;
            return;
        }
        total += piece;
    };
    for (const NalUnitInfo& unit : units) {
        const ByteView payload = PayloadOf(buffer, size, unit);
        if (payload.data == nullptr) continue;
        switch (unit.nal_unit_type) {
            case kH264NalIdrSlice:
                layout.hasIdr = true;
                add(PrefixedSize(inForce.sps()));
                add(PrefixedSize(inForce.pps()));
                [[fallthrough]];
            case kH264NalSlice:
                layout.hasSlice = true;
                add(sizeof kStartCode);
                add(payload.size);
                break;
            default:
                inForce.Follow(unit.nal_unit_type, payload);
                break;
        }
    }
    layout.repackedSize = layout.tooLarge ? 0 : total;
    return layout;
}

size_t WriteRepackedAccessUnit(const uint8_t* buffer, size_t size, const std::vector<NalUnitInfo>& units,
                               const H264ParameterSets& stored, uint8_t* out, size_t capacity) {
    ParameterSetsInForce inForce(stored);
    BoundedWriter writer(out, out == nullptr ? 0 : capacity);
    for (const NalUnitInfo& unit : units) {
        const ByteView payload = PayloadOf(buffer, size, unit);
        if (payload.data == nullptr) continue;
        switch (unit.nal_unit_type) {
            case kH264NalIdrSlice:
                if (inForce.sps().size > 0) writer.AppendUnit(inForce.sps());
                if (inForce.pps().size > 0) writer.AppendUnit(inForce.pps());
                writer.AppendUnit(payload);
                break;
            case kH264NalSlice:
                writer.AppendUnit(payload);
                break;
            default:
                inForce.Follow(unit.nal_unit_type, payload);
                break;
        }
    }
    return writer.written();
}

void KeepLatestParameterSets(const uint8_t* buffer, size_t size, const std::vector<NalUnitInfo>& units,
                             H264ParameterSets* stored) {
    ByteView sps;
    ByteView pps;
    for (const NalUnitInfo& unit : units) {
        const ByteView payload = PayloadOf(buffer, size, unit);
        if (payload.size == 0 || payload.size > kH264MaxParameterSetSize) continue;
        if (unit.nal_unit_type == kH264NalSps) sps = payload;
        if (unit.nal_unit_type == kH264NalPps) pps = payload;
    }
    if (sps.data != nullptr) stored->sps.assign(sps.data, sps.data + sps.size);
    if (pps.data != nullptr) stored->pps.assign(pps.data, pps.data + pps.size);
}
