#include "reassembler.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace zu {
namespace {

struct Fragment {
    uint32_t number;
    uint16_t index;
    uint16_t count;
    std::string bytes;
};

class ReassemblerTest : public testing::Test {
protected:
    Reassembler::Outcome add(const Fragment& f) {
        return reassembler_.Add(f.number, f.index, f.count, f.bytes.data(), f.bytes.size(),
                                [this](uint32_t number, const std::string& bytes) {
                                    delivered_.emplace_back(number, bytes);
                                });
    }
    std::vector<std::string> deliveredBytes() const {
        std::vector<std::string> out;
        for (const auto& entry : delivered_) out.push_back(entry.second);
        return out;
    }

    Reassembler reassembler_;
    std::vector<std::pair<uint32_t, std::string>> delivered_;
};

using Strings = std::vector<std::string>;

TEST_F(ReassemblerTest, FragmentsInAnyOrderMakeWholeMessagesInMessageOrder) {
    add({0, 1, 3, "b"});
    add({1, 0, 1, "x"});  // complete, but waits for 0
    add({0, 2, 3, "c"});
    EXPECT_TRUE(delivered_.empty());
    add({0, 0, 3, "a"});
    EXPECT_EQ(deliveredBytes(), (Strings{"abc", "x"}));
    EXPECT_EQ(delivered_[0].first, 0u);
    EXPECT_EQ(reassembler_.pendingBytes(), 0u);
}

TEST_F(ReassemblerTest, DuplicatesAndLateFragmentsAreNotDeliveredTwice) {
    EXPECT_EQ(add({0, 0, 1, "one"}), Reassembler::Outcome::Taken);
    EXPECT_EQ(add({0, 0, 1, "one"}), Reassembler::Outcome::Duplicate);
    EXPECT_EQ(add({1, 0, 2, "t"}), Reassembler::Outcome::Taken);
    EXPECT_EQ(add({1, 0, 2, "t"}), Reassembler::Outcome::Duplicate);
    EXPECT_EQ(add({0xFFFFFFFFu, 0, 1, "before the start"}), Reassembler::Outcome::Duplicate);
    EXPECT_EQ(deliveredBytes(), (Strings{"one"}));
}

TEST_F(ReassemblerTest, AMessageMissingAFragmentIsGivenUpOnceEnoughWaitBehindIt) {
    add({0, 0, 2, "half"});  // fragment 1 of message 0 never comes
    for (uint32_t n = 1; n < Reassembler::kMaxWaiting; ++n) add({n, 0, 1, std::to_string(n)});
    EXPECT_TRUE(delivered_.empty()) << "a short gap only delays";
    add({static_cast<uint32_t>(Reassembler::kMaxWaiting), 0, 1, "last"});
    ASSERT_EQ(delivered_.size(), Reassembler::kMaxWaiting);
    EXPECT_EQ(delivered_.front().first, 1u) << "never a part of message 0";
    EXPECT_EQ(delivered_.back().second, "last");
    EXPECT_EQ(reassembler_.TakeLostCount(), 1);
    EXPECT_EQ(reassembler_.TakeLostCount(), 0);
    // The given-up message's missing half now counts as late.
    EXPECT_EQ(add({0, 1, 2, "rest"}), Reassembler::Outcome::Duplicate);
    EXPECT_EQ(reassembler_.pendingBytes(), 0u);
}

TEST_F(ReassemblerTest, AJumpFarAheadMovesTheWindowWithoutSpinningOrHoldingOldData) {
    add({0, 0, 1, "first"});
    add({2, 0, 2, "held"});  // incomplete, inside the window
    // A liar (or a long outage) jumps two billion messages ahead.
    EXPECT_EQ(add({2'000'000'000u, 0, 1, "far"}), Reassembler::Outcome::Taken);
    EXPECT_EQ(reassembler_.pendingBytes(), 3u) << "only \"far\" is held; the old fragment fell out of the window";
    EXPECT_GT(reassembler_.TakeLostCount(), 0);
    EXPECT_EQ(deliveredBytes(), (Strings{"first"}));
}

struct RefusedCase {
    const char* name;
    Fragment fragment;
};

class ReassemblerRefusalTest : public ReassemblerTest, public testing::WithParamInterface<RefusedCase> {};

TEST_P(ReassemblerRefusalTest, RefusesWhatNoPhoneSends) {
    add({1, 0, 2, "a"});  // message 0 missing: nothing is delivered
    EXPECT_EQ(add(GetParam().fragment), Reassembler::Outcome::Refused);
    EXPECT_EQ(reassembler_.pendingBytes(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, ReassemblerRefusalTest,
    testing::Values(RefusedCase{"ZeroFragments", {3, 0, 0, "x"}}, RefusedCase{"IndexPastCount", {3, 2, 2, "x"}},
                    RefusedCase{"TooManyFragments", {3, 0, Reassembler::kMaxFragments + 1, "x"}},
                    RefusedCase{"Empty", {3, 0, 1, ""}},
                    RefusedCase{"ContradictedCount", {1, 1, 3, "b"}}),
    [](const testing::TestParamInfo<RefusedCase>& param) { return std::string(param.param.name); });

TEST_F(ReassemblerTest, HeldBytesStayUnderTheLimitUnderAFloodOfIncompleteMessages) {
    const std::string big(60000, 'x');
    int refused = 0;
    // Three messages of 1024 fragments each, every one missing its last
    // fragment: nothing ever completes, and each would hold 61 MB.
    for (uint32_t n = 0; n < 3; ++n) {
        for (uint16_t i = 0; i + 1 < Reassembler::kMaxFragments; ++i) {
            if (add({n, i, Reassembler::kMaxFragments, big}) == Reassembler::Outcome::Refused) ++refused;
        }
    }
    EXPECT_LE(reassembler_.pendingBytes(), Reassembler::kMaxPendingBytes);
    EXPECT_GT(refused, 0);
    EXPECT_TRUE(delivered_.empty());
}

TEST(ReassemblerProbationTest, ASenderOnProbationHoldsLittleUntilItsLimitIsLifted) {
    constexpr uint64_t kLimit = 10000;
    Reassembler reassembler(kLimit);
    int delivered = 0;
    const auto deliver = [&](uint32_t, const std::string&) { ++delivered; };
    const std::string chunk(3000, 'p');
    int refused = 0;
    for (uint16_t i = 0; i + 1 < 10; ++i) {
        if (reassembler.Add(0, i, 10, chunk.data(), chunk.size(), deliver) == Reassembler::Outcome::Refused) ++refused;
    }
    EXPECT_LE(reassembler.pendingBytes(), kLimit);
    EXPECT_EQ(refused, 6);
    // Accepted as the peer: the full limit applies, and the message completes.
    reassembler.LiftPendingLimit();
    for (uint16_t i = 3; i < 10; ++i) reassembler.Add(0, i, 10, chunk.data(), chunk.size(), deliver);
    EXPECT_EQ(delivered, 1);
    EXPECT_EQ(reassembler.pendingBytes(), 0u);
}

}  // namespace
}  // namespace zu
