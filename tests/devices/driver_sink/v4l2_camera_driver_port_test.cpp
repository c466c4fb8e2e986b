// The Linux port's device search over a fake /dev folder with a fake
// VIDIOC_QUERYCAP, and its behaviour without a device. The machine that runs
// the tests has no v4l2loopback, so the ioctls themselves are not run here.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <linux/videodev2.h>
#include <cstring>
#include <map>
#include <vector>

#include "devices/driver_sink/v4l2_camera_driver_port.h"

namespace {

using Caps = V4l2CameraDriverPort::DeviceCaps;

// A folder of empty files standing for device nodes, and the caps each
// reports (a node missing from the map cannot be queried).
class FakeDevFolder : public testing::Test {
protected:
    void AddNode(const QString& name) {
        QFile file(dir_.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    void AddDevice(const QString& name, const std::string& card, uint32_t capabilities) {
        AddNode(name);
        caps_[dir_.filePath(name).toStdString()] = Caps{card, capabilities};
    }
    std::string Path(const QString& name) const { return dir_.filePath(name).toStdString(); }
    std::string Find() const { return V4l2CameraDriverPort::FindDevice(dir_.path().toStdString(), Query()); }
    V4l2CameraDriverPort::CapsQuery Query() const {
        return [this](const std::string& path) -> std::optional<Caps> {
            queried_.push_back(path);
            const auto found = caps_.find(path);
            if (found == caps_.end()) return std::nullopt;
            return found->second;
        };
    }

    QTemporaryDir dir_;
    std::map<std::string, Caps> caps_;
    mutable std::vector<std::string> queried_;
};

constexpr uint32_t kOutput = V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_STREAMING;
constexpr uint32_t kCapture = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;

TEST_F(FakeDevFolder, FindsTheLabelledOutputDeviceAmongOthers) {
    AddDevice("video0", "Integrated Webcam", kCapture);
    AddDevice("video1", "Zu Camera", kCapture);  // a capture node with the label is not ours
    AddDevice("video2", "Zu Camera 2", kOutput);  // the label must match whole
    AddNode("video3");                            // cannot be queried
    AddDevice("video4", "Zu Camera", kOutput);
    AddDevice("video5", "Zu Camera", kOutput);  // only the first match counts
    AddDevice("media0", "Zu Camera", kOutput);  // not a video node
    AddDevice("video", "Zu Camera", kOutput);
    AddDevice("video4x", "Zu Camera", kOutput);
    EXPECT_EQ(Find(), Path("video4"));
}

// The label of the settings' driver camera, and the earlier one.
TEST_F(FakeDevFolder, TakesTheCurrentAndTheEarlierLabel) {
    AddDevice("video0", "Zu Camera Pro", kCapture);
    AddDevice("video1", "Zu Camera Pro", kOutput);
    EXPECT_EQ(Find(), Path("video1"));
    AddDevice("video0", "Zu Camera", kOutput);
    EXPECT_EQ(Find(), Path("video0"));
}

// video10 comes after video9, not between video1 and video2.
TEST_F(FakeDevFolder, SearchesNodesInNumericOrder) {
    AddDevice("video10", "Zu Camera", kOutput);
    AddDevice("video9", "Zu Camera", kOutput);
    AddDevice("video2", "other", kCapture);
    EXPECT_EQ(Find(), Path("video9"));
    EXPECT_EQ(queried_, (std::vector<std::string>{Path("video2"), Path("video9")}));
}

TEST_F(FakeDevFolder, NoDeviceMeansOpenFails) {
    AddDevice("video0", "Integrated Webcam", kCapture);
    EXPECT_EQ(Find(), "");
    V4l2CameraDriverPort port(dir_.path().toStdString(), Query());
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.devicePath(), "");
    const uint8_t frame[64 + 6] = {};
    EXPECT_FALSE(port.Write(frame, sizeof frame));
}

TEST(V4l2Port, MissingFolderFindsNothing) {
    EXPECT_EQ(V4l2CameraDriverPort::FindDevice("/nonexistent-zucam-dev", [](const std::string&) {
                  return std::optional<Caps>(Caps{"Zu Camera", kOutput});
              }),
              "");
}

// A node that opens but is no video device (here a plain file): Open binds
// it, and the first frame fails at the format, not with a crash or a write.
TEST_F(FakeDevFolder, NodeThatRefusesTheFormatRefusesFrames) {
    AddDevice("video0", "Zu Camera", kOutput);
    V4l2CameraDriverPort port(dir_.path().toStdString(), Query());
    ASSERT_TRUE(port.Open());
    EXPECT_EQ(port.devicePath(), Path("video0"));
    std::vector<uint8_t> frame(64 + 2 * 2 * 3 / 2, 0);
    const int32_t size = 2;
    std::memcpy(frame.data(), &size, 4);
    std::memcpy(frame.data() + 4, &size, 4);
    EXPECT_FALSE(port.Write(frame.data(), frame.size()));
    EXPECT_EQ(QFile(dir_.filePath("video0")).size(), 0);
    // A length that does not match the header is refused before the device.
    EXPECT_FALSE(port.Write(frame.data(), frame.size() - 1));
    port.Close();
    EXPECT_EQ(port.devicePath(), "");
}

}  // namespace

namespace {

// The format set on the device tags the pictures as the render output makes
// them: BT.709, limited range (sRGB would make readers use another matrix).
TEST(V4l2Port, OutputFormatIsTaggedBt709LimitedRange) {
    const v4l2_format format = V4l2CameraDriverPort::OutputFormat(1920, 1080);
    EXPECT_EQ(format.type, V4L2_BUF_TYPE_VIDEO_OUTPUT);
    EXPECT_EQ(format.fmt.pix.pixelformat, static_cast<uint32_t>(V4L2_PIX_FMT_YUV420));
    EXPECT_EQ(format.fmt.pix.bytesperline, 1920u);
    EXPECT_EQ(format.fmt.pix.sizeimage, 1920u * 1080u * 3u / 2u);
    EXPECT_EQ(format.fmt.pix.colorspace, static_cast<uint32_t>(V4L2_COLORSPACE_REC709));
    EXPECT_EQ(format.fmt.pix.ycbcr_enc, static_cast<uint32_t>(V4L2_YCBCR_ENC_709));
    EXPECT_EQ(format.fmt.pix.quantization, static_cast<uint32_t>(V4L2_QUANTIZATION_LIM_RANGE));
    EXPECT_EQ(format.fmt.pix.xfer_func, static_cast<uint32_t>(V4L2_XFER_FUNC_709));
}

}  // namespace
