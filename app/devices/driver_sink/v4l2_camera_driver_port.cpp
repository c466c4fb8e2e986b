#include "devices/driver_sink/v4l2_camera_driver_port.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "core/tether/tq_log.h"
#include "devices/driver_sink/driver_frame_header.h"
#include "devices/driver_sink/driver_frame_packer.h"

namespace {

// N of a node named video<N>, nullopt for any other name.
std::optional<unsigned long> VideoNodeNumber(const std::string& name) {
    constexpr const char kPrefix[] = "video";
    constexpr size_t kPrefixLength = sizeof kPrefix - 1;
    if (name.size() <= kPrefixLength || name.compare(0, kPrefixLength, kPrefix) != 0) return std::nullopt;
    const std::string digits = name.substr(kPrefixLength);
    if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    return std::stoul(digits);
}

int RetryIoctl(int fd, unsigned long request, void* argument) {
    int result = 0;
    do {
        result = ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result;
}

}  // namespace

std::optional<V4l2CameraDriverPort::DeviceCaps> V4l2CameraDriverPort::QueryDeviceCaps(const std::string& path) {
    // Non-blocking so that a busy capture device cannot hold up the search.
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    v4l2_capability capability{};
    const int result = RetryIoctl(fd, VIDIOC_QUERYCAP, &capability);
    ::close(fd);
    if (result < 0) return std::nullopt;
    DeviceCaps caps;
    const char* const card = reinterpret_cast<const char*>(capability.card);
    caps.card.assign(card, strnlen(card, sizeof capability.card));
    caps.capabilities =
        (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? capability.device_caps : capability.capabilities;
    return caps;
}

std::string V4l2CameraDriverPort::FindDevice(const std::string& folder, const CapsQuery& query) {
    std::vector<std::pair<unsigned long, std::string>> nodes;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (const auto number = VideoNodeNumber(name)) nodes.emplace_back(*number, it->path().string());
    }
    std::sort(nodes.begin(), nodes.end());
    for (const auto& node : nodes) {
        const std::optional<DeviceCaps> caps = query(node.second);
        if (!caps) continue;
        const bool ours = caps->card == kCardLabel || caps->card == kEarlierCardLabel;
        if (ours && (caps->capabilities & V4L2_CAP_VIDEO_OUTPUT) != 0) return node.second;
    }
    return {};
}

V4l2CameraDriverPort::V4l2CameraDriverPort() : V4l2CameraDriverPort("/dev", &QueryDeviceCaps) {}

V4l2CameraDriverPort::V4l2CameraDriverPort(std::string folder, CapsQuery query)
    : folder_(std::move(folder)), query_(std::move(query)) {}

V4l2CameraDriverPort::~V4l2CameraDriverPort() { Close(); }

bool V4l2CameraDriverPort::Open() {
    Close();
    const std::string path = FindDevice(folder_, query_);
    if (path.empty()) return false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        LOG_W("driver port: cannot open %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    fd_ = fd;
    devicePath_ = path;
    LOG_I("driver port: writing frames to %s", path.c_str());
    return true;
}

bool V4l2CameraDriverPort::Write(const uint8_t* frame, size_t length) {
    if (fd_ < 0 || frame == nullptr || length < sizeof(DriverFrameHeader)) return false;
    DriverFrameHeader header;
    std::memcpy(&header, frame, sizeof header);
    // The sink packs even sizes; anything else is not a frame this port can
    // describe to the device.
    if (header.width < 2 || header.height < 2 || header.width % 2 != 0 || header.height % 2 != 0 ||
        static_cast<int64_t>(length) != DriverFramePacker::PackedLength(header.width, header.height)) {
        return false;
    }
    if ((header.width != formatWidth_ || header.height != formatHeight_) && !SetFormat(header.width, header.height)) {
        return false;
    }
    const uint8_t* next = frame + sizeof header;
    size_t left = length - sizeof header;
    while (left > 0) {
        const ssize_t written = ::write(fd_, next, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        next += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

v4l2_format V4l2CameraDriverPort::OutputFormat(int width, int height) {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    format.fmt.pix.width = static_cast<uint32_t>(width);
    format.fmt.pix.height = static_cast<uint32_t>(height);
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_YUV420;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    format.fmt.pix.bytesperline = static_cast<uint32_t>(width);
    format.fmt.pix.sizeimage = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 3 / 2;
    // What the pictures are (the render output's BT.709, limited range), not
    // sRGB, whose matrix readers would take for BT.601.
    format.fmt.pix.colorspace = V4L2_COLORSPACE_REC709;
    format.fmt.pix.ycbcr_enc = V4L2_YCBCR_ENC_709;
    format.fmt.pix.quantization = V4L2_QUANTIZATION_LIM_RANGE;
    format.fmt.pix.xfer_func = V4L2_XFER_FUNC_709;
    return format;
}

bool V4l2CameraDriverPort::SetFormat(int width, int height) {
    v4l2_format format = OutputFormat(width, height);
    if (RetryIoctl(fd_, VIDIOC_S_FMT, &format) < 0) {
        // Once per size: the same size comes again with every frame.
        if (width != refusedWidth_ || height != refusedHeight_) {
            LOG_W("driver port: %s refuses %dx%d I420: %s", devicePath_.c_str(), width, height,
                  std::strerror(errno));
            refusedWidth_ = width;
            refusedHeight_ = height;
        }
        formatWidth_ = 0;
        formatHeight_ = 0;
        return false;
    }
    formatWidth_ = width;
    formatHeight_ = height;
    refusedWidth_ = 0;
    refusedHeight_ = 0;
    return true;
}

void V4l2CameraDriverPort::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    devicePath_.clear();
    formatWidth_ = 0;
    formatHeight_ = 0;
    refusedWidth_ = 0;
    refusedHeight_ = 0;
}
