#include "core/system/winsock_init.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <type_traits>

namespace {

static_assert(!std::is_copy_constructible_v<WinsockInit> && !std::is_copy_assignable_v<WinsockInit>,
              "one guard per process");

// Writes to a local stream socket whose peer is closed, with SIGPIPE at its
// default unless a guard is alive. Returns the errno of the failed write, 0
// when the write succeeded.
int writeToClosedPeer() {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return -1;
    close(ends[1]);
    const ssize_t written = write(ends[0], "x", 1);
    const int error = written < 0 ? errno : 0;
    close(ends[0]);
    return error;
}

class SystemWinsockInitDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// The control: without the guard the same write kills the process, so the
// next test cannot pass by accident.
TEST_F(SystemWinsockInitDeathTest, WithoutTheGuardAWriteToAClosedPeerKillsTheProcess) {
    EXPECT_EXIT(
        {
            signal(SIGPIPE, SIG_DFL);
            writeToClosedPeer();
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGPIPE), "");
}

TEST_F(SystemWinsockInitDeathTest, WithTheGuardAWriteToAClosedPeerFailsWithEpipe) {
    EXPECT_EXIT(
        {
            signal(SIGPIPE, SIG_DFL);
            const WinsockInit guard;
            if (guard.result() != 0) std::_Exit(2);
            std::_Exit(writeToClosedPeer() == EPIPE ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
