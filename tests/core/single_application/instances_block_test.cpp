// The shared record on its own: what the checksum covers and how the
// primary's user name is stored.
#include "core/single_application/instances_block.h"

#include <QString>

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

namespace {

class InstancesBlockTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&storage_, 0xA5, sizeof storage_);  // garbage, as in a reused block
        block().initialise();
    }

    InstancesBlock& block() { return *reinterpret_cast<InstancesBlock*>(&storage_); }
    unsigned char* bytes() { return reinterpret_cast<unsigned char*>(&storage_); }

    alignas(InstancesBlock) unsigned char storage_[sizeof(InstancesBlock)];
};

TEST_F(InstancesBlockTest, EveryByteBeforeTheChecksumIsCovered) {
    block().markPrimary(4242, "alice");
    ASSERT_TRUE(block().isConsistent());
    for (int offset = 0; offset < 144; ++offset) {
        bytes()[offset] ^= 0x01;
        EXPECT_FALSE(block().isConsistent()) << "offset " << offset;
        bytes()[offset] ^= 0x01;
    }
    EXPECT_TRUE(block().isConsistent());
}

TEST_F(InstancesBlockTest, LifecycleKeepsTheRecordConsistent) {
    EXPECT_FALSE(block().primary);
    EXPECT_EQ(block().primaryPid, -1);
    EXPECT_TRUE(block().isConsistent());

    block().markPrimary(4242, "alice");
    EXPECT_TRUE(block().primary);
    EXPECT_EQ(block().primaryPid, 4242);
    EXPECT_STREQ(block().primaryUser, "alice");
    EXPECT_TRUE(block().isConsistent());

    EXPECT_EQ(block().registerSecondary(), 1U);
    EXPECT_EQ(block().registerSecondary(), 2U);
    EXPECT_TRUE(block().isConsistent());

    block().clearPrimary();
    EXPECT_FALSE(block().primary);
    EXPECT_EQ(block().primaryPid, -1);
    EXPECT_EQ(block().primaryUser[0], '\0');
    EXPECT_EQ(block().secondary, 2U);
    EXPECT_TRUE(block().isConsistent());
}

struct UserNameCase {
    const char* label;
    QByteArray given;
    int storedBytes;
};

void PrintTo(const UserNameCase& testCase, std::ostream* out) { *out << testCase.label; }

class StoredUserNameTest : public InstancesBlockTest, public ::testing::WithParamInterface<UserNameCase> {};

TEST_P(StoredUserNameTest, FitsWithItsNulAndEndsOnACharacter) {
    const UserNameCase& param = GetParam();
    block().markPrimary(1, param.given);

    const QByteArray stored(block().primaryUser);  // up to the NUL
    EXPECT_EQ(stored.size(), param.storedBytes);
    EXPECT_EQ(stored, param.given.left(param.storedBytes));
    // Round-trips through UTF-8 unchanged: no half character at the end.
    EXPECT_EQ(QString::fromUtf8(stored).toUtf8(), stored);
    for (int i = stored.size(); i < InstancesBlock::kUserNameCapacity; ++i) {
        ASSERT_EQ(block().primaryUser[i], '\0') << "byte " << i;
    }
    EXPECT_TRUE(block().isConsistent());
}

QByteArray repeated(const QByteArray& piece, const int times) {
    return piece.repeated(times);
}

INSTANTIATE_TEST_SUITE_P(
    Names, StoredUserNameTest,
    ::testing::Values(UserNameCase{"Short", "alice", 5},
                      UserNameCase{"Exactly127", repeated("a", 127), 127},
                      UserNameCase{"Ascii128", repeated("a", 128), 127},
                      UserNameCase{"Ascii300", repeated("b", 300), 127},
                      // 2-byte characters: byte 127 would be the second half of one.
                      UserNameCase{"TwoByteAcrossTheCut", repeated("\xC3\xA9", 100), 126},
                      // 3-byte characters after one ASCII byte: a character ends at 127.
                      UserNameCase{"ThreeByteEndingAtTheCut", "a" + repeated("\xE2\x82\xAC", 60), 127},
                      // 4-byte characters after two ASCII bytes: the cut falls inside one.
                      UserNameCase{"FourByteAcrossTheCut", "ab" + repeated("\xF0\x9F\x98\x80", 40), 126},
                      UserNameCase{"EmbeddedNul", QByteArray("bob\0eve", 7), 3}),
    [](const ::testing::TestParamInfo<UserNameCase>& testCase) { return std::string(testCase.param.label); });

}  // namespace
