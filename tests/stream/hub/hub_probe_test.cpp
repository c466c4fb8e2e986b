#include <QElapsedTimer>

#include "hub_fixture.h"
#include "support/tether_environment.h"

namespace zucam::test {
namespace {

struct ProbeCase {
    const char* name;
    const char* output;
    const char* exitCode;
    const char* decoder;  // what the next video receiver is given
};

void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }

class HubProbeTest : public HubTest, public testing::WithParamInterface<ProbeCase> {
protected:
    void SetUp() override {
        // The stand-in beside the test program prints what it is told.
        qputenv("ZUCAM_TEST_HW_PROBE_OUTPUT", QByteArray(GetParam().output));
        qputenv("ZUCAM_TEST_HW_PROBE_EXIT", QByteArray(GetParam().exitCode));
        // The log outlives the case: only a line written after this point is this hub's probe.
        probeLinesBefore_ = CountInLog("probe hardware codec");
        HubTest::SetUp();
    }

    bool waitProbeFinished() {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 5000) {
            if (CountInLog("probe hardware codec") > probeLinesBefore_) return true;
            QThread::msleep(10);
        }
        return false;
    }

    int probeLinesBefore_ = 0;
};

TEST_P(HubProbeTest, ProbeOutputNamesTheHardwareDecoder) {
    ASSERT_TRUE(waitProbeFinished());
    phone::CommandClient phone;
    ASSERT_TRUE(connect(phone));
    ASSERT_TRUE(phone.hello("Pixel", 30, 320, 240).has_value());
    const auto names = decoders_.log().HardwareNames();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], GetParam().decoder);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, HubProbeTest,
    testing::Values(ProbeCase{"BothNames", "h264_nvenc|cuda", "0", "cuda"},
                    ProbeCase{"NullDecoder", "h264_nvenc|null", "0", ""},
                    ProbeCase{"NullEncoder", "null|d3d11va", "0", "d3d11va"},
                    ProbeCase{"LineBreakAfterTheNames", "null|cuda\n", "0", "cuda"},
                    ProbeCase{"NoSeparator", "cuda", "0", ""},
                    ProbeCase{"ThreeParts", "a|b|c", "0", ""},
                    ProbeCase{"FailedProbe", "h264_nvenc|cuda", "3", ""}),
    [](const testing::TestParamInfo<ProbeCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace zucam::test
