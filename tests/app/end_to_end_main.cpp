// The end-to-end test's main: as zucam_test_main.cpp, and first, while the
// process has one thread, two things of its own:
// - a private /dev/shm (a mount namespace of its own with a fresh tmpfs), so
//   the window writes the product's camera queue "/ZuVirtualCameraQueue"
//   without meeting another program's writer; where that cannot be had (no
//   privileges) the test falls back to a queue name of its own;
// - "xdg-open" replaced on PATH by a stand-in that logs the folder it was
//   asked to show (the window shows saved recordings and screenshots).
#include <QCoreApplication>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "end_to_end_environment.h"
#include "support/headless.h"
#include "support/tether_environment.h"
#include "zucam.h"

namespace {

bool PrivateSharedMemory() {
    if (::unshare(CLONE_NEWNS) != 0) return false;
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    return ::mount("tmpfs", "/dev/shm", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") == 0;
}

// A folder with an "xdg-open" that appends its arguments to open.log there.
std::string OpenStandInFolder() {
    char folder[] = "/tmp/zucam-e2e-open-XXXXXX";
    if (::mkdtemp(folder) == nullptr) return std::string();
    const std::string script = std::string(folder) + "/xdg-open";
    std::ofstream(script) << "#!/bin/sh\necho \"$@\" >> \"" << folder << "/open.log\"\n";
    ::chmod(script.c_str(), 0700);
    return folder;
}

}  // namespace

namespace e2e {
bool g_privateShm = false;
std::string g_openLog;
}  // namespace e2e

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
    e2e::g_privateShm = PrivateSharedMemory();
    const std::string openFolder = OpenStandInFolder();
    if (!openFolder.empty()) {
        e2e::g_openLog = openFolder + "/open.log";
        const char* path = std::getenv("PATH");
        ::setenv("PATH", (openFolder + ":" + (path != nullptr ? path : "/usr/bin:/bin")).c_str(), 1);
    }
    zucam::test::UseHeadlessQtUnlessSet();
    zucam::test::TetherEnvironment tether;
    QCoreApplication::setApplicationName(QString("zucam-e2e-test-%1").arg(getpid()));
    int result = 0;
    {
        ZuCam app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (!openFolder.empty()) {
        std::remove(e2e::g_openLog.c_str());
        std::remove((openFolder + "/xdg-open").c_str());
        ::rmdir(openFolder.c_str());
    }
    return result;
}
