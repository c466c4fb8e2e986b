// The camera driver on Linux: a v4l2loopback output device whose card label
// is "Zu Camera Pro" (the driver camera's name in the settings; devices made
// with the earlier label "Zu Camera" are taken as well). Open finds it among the video device nodes of a folder
// (/dev), Write sets the output format to the frame's size (I420) when it
// changes and writes the planes; programs that open the device's capture
// side see the frames as a camera.
//
// Limits: one device (the first match in node order); the format is set
// only when the size changes, and v4l2loopback refuses a new size while a
// reader holds the device open, so such a frame is refused until the reader
// lets go; writes block as the device's write() does.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "devices/driver_sink/camera_driver_port.h"

class V4l2CameraDriverPort final : public CameraDriverPort {
public:
    static constexpr const char* kCardLabel = "Zu Camera Pro";
    // The label an earlier set-up line gave the device; still accepted.
    static constexpr const char* kEarlierCardLabel = "Zu Camera";

    // What VIDIOC_QUERYCAP says about a device node.
    struct DeviceCaps {
        std::string card;
        uint32_t capabilities = 0;  // the node's own (device_caps when given)
    };
    // Asks a device node for its caps; nullopt when it cannot be opened or
    // is no video device.
    using CapsQuery = std::function<std::optional<DeviceCaps>(const std::string& path)>;

    // The real one: open, VIDIOC_QUERYCAP, close.
    static std::optional<DeviceCaps> QueryDeviceCaps(const std::string& path);

    // The first node named video<N> in folder, in increasing N, that query
    // reports as a video output device labelled kCardLabel or kEarlierCardLabel; empty when none.
    static std::string FindDevice(const std::string& folder, const CapsQuery& query);

    // The output format set on the device for a picture of that size: I420
    // with packed lines, tagged as what the render output makes (BT.709
    // matrix and transfer, limited range) so readers decode the right
    // colours.
    static v4l2_format OutputFormat(int width, int height);

    // Searches /dev with QueryDeviceCaps.
    V4l2CameraDriverPort();
    V4l2CameraDriverPort(std::string folder, CapsQuery query);
    ~V4l2CameraDriverPort() override;
    V4l2CameraDriverPort(const V4l2CameraDriverPort&) = delete;
    V4l2CameraDriverPort& operator=(const V4l2CameraDriverPort&) = delete;

    bool Open() override;
    bool Write(const uint8_t* frame, size_t length) override;
    void Close() override;

    // The node Open bound; empty when closed.
    const std::string& devicePath() const { return devicePath_; }

private:
    bool SetFormat(int width, int height);

    const std::string folder_;
    const CapsQuery query_;
    int fd_ = -1;
    std::string devicePath_;
    int formatWidth_ = 0;  // the output format last set, 0 before any
    int formatHeight_ = 0;
    int refusedWidth_ = 0;  // the size the device last refused, logged once
    int refusedHeight_ = 0;
};
