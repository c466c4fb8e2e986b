#include "vexo/gs_device.h"

#include <algorithm>
#include <cstring>

#include "vexo/gs_context_default.h"
#include "vexo/gs_filter.h"
#include "vexo/gs_item.h"
#include "vexo/gs_output_raw.h"
#include "vexo/gs_scene.h"
#include "vexo/gs_steady_clock.h"

namespace {

std::mutex g_defaultMutex;  // guards g_default
std::unique_ptr<GsDevice> g_default;
std::atomic<GsDevice*> g_defaultPointer{nullptr};
std::atomic<int> g_maxPassThreads{8};

// Bytes after a picture's last row: swscale reads a pixel past the end of
// an odd-width row, which must stay inside the buffer.
constexpr size_t kReadBackSlack = 64;

// Below this many pixels a pass runs on the calling thread alone.
constexpr int64_t kPixelsPerThread = 256 * 1024;

// Nearest-neighbour copy of an RGBA picture (rows sourceStride bytes apart)
// into another size.
void ScaleRgba(const uint8_t* source, int sourceStride, int sourceWidth, int sourceHeight, uint8_t* target,
               int targetWidth, int targetHeight) {
    for (int y = 0; y < targetHeight; ++y) {
        const int sy = static_cast<int>(static_cast<int64_t>(y) * sourceHeight / targetHeight);
        const uint8_t* sourceRow = source + static_cast<size_t>(sy) * sourceStride;
        uint8_t* targetRow = target + static_cast<size_t>(y) * targetWidth * 4;
        for (int x = 0; x < targetWidth; ++x) {
            const int sx = static_cast<int>(static_cast<int64_t>(x) * sourceWidth / targetWidth);
            std::memcpy(targetRow + x * 4, sourceRow + sx * 4, 4);
        }
    }
}

}  // namespace

bool GsDevice::CreateDefaultDevice(bool startThread) {
    return CreateDefaultDevice(std::make_unique<GsSteadyClock>(), startThread);
}

bool GsDevice::CreateDefaultDevice(std::unique_ptr<GsClock> clock, bool startThread) {
    const std::lock_guard<std::mutex> lock(g_defaultMutex);
    if (g_default) return true;
    auto device = std::make_unique<GsDevice>(std::move(clock));
    // The CPU back end has nothing else that could fail to start.
    if (startThread && !device->StartThread()) return false;
    g_defaultPointer.store(device.get());
    g_default = std::move(device);
    return true;
}

GsDevice* GsDevice::DefaultDevice() { return g_defaultPointer.load(); }

void GsDevice::DestroyDefaultDevice() {
    std::unique_ptr<GsDevice> device;
    {
        const std::lock_guard<std::mutex> lock(g_defaultMutex);
        g_defaultPointer.store(nullptr);
        device = std::move(g_default);
    }
}

GsDevice::GsDevice(std::unique_ptr<GsClock> clock) : clock_(std::move(clock)) {}

GsDevice::~GsDevice() { StopThread(); }

bool GsDevice::StartThread() {
    const std::lock_guard<std::mutex> lock(threadMutex_);
    if (thread_.joinable()) return true;
    clock_->Reset();
    try {
        thread_ = std::thread([this] { RunThread(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void GsDevice::StopThread() {
    const std::lock_guard<std::mutex> lock(threadMutex_);
    if (!thread_.joinable()) return;
    clock_->Interrupt();
    thread_.join();
}

void GsDevice::SetFrameRate(int framesPerSecond) {
    framesPerSecond_.store(std::clamp(framesPerSecond, 1, 60));
}

int GsDevice::FrameRate() const { return framesPerSecond_.load(); }

bool GsDevice::AddShader(const char* name, const char* vertexText, const char* pixelText) {
    if (name == nullptr || vertexText == nullptr || pixelText == nullptr) return false;
    const GsKernel kernel = FindBuiltInKernel(name);
    if (kernel == nullptr) return false;
    const std::lock_guard<std::mutex> lock(shadersMutex_);
    shaders_[name] = kernel;
    return true;
}

GsKernel GsDevice::FindShader(const std::string& name) const {
    const std::lock_guard<std::mutex> lock(shadersMutex_);
    const auto found = shaders_.find(name);
    return found == shaders_.end() ? nullptr : found->second;
}

std::unique_lock<std::recursive_mutex> GsDevice::LockFrame() {
    return std::unique_lock<std::recursive_mutex>(frameMutex_);
}

void GsDevice::AddOutput(GsOutputRaw* output) {
    const auto lock = LockFrame();
    if (!HasOutput(output)) outputs_.push_back(output);
}

void GsDevice::RemoveOutput(GsOutputRaw* output) {
    const auto lock = LockFrame();
    outputs_.erase(std::remove(outputs_.begin(), outputs_.end(), output), outputs_.end());
}

void GsDevice::AttachFilter(GsFilter* filter) {
    const auto lock = LockFrame();
    if (!HasFilter(filter)) filters_.push_back(filter);
}

void GsDevice::DetachFilter(GsFilter* filter) {
    const auto lock = LockFrame();
    filters_.erase(std::remove(filters_.begin(), filters_.end(), filter), filters_.end());
}

bool GsDevice::HasOutput(const GsOutputRaw* output) const {
    return std::find(outputs_.begin(), outputs_.end(), output) != outputs_.end();
}

bool GsDevice::HasFilter(const GsFilter* filter) const {
    return std::find(filters_.begin(), filters_.end(), filter) != filters_.end();
}

void GsDevice::SetMaxPassThreads(int threads) { g_maxPassThreads.store(std::max(1, threads)); }

int GsDevice::MaxPassThreads() { return g_maxPassThreads.load(); }

void GsDevice::RunRows(int rows, int64_t pixels, const GsRowWorkers::Work& work) {
    if (rows <= 0) return;
    const int hardware = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int64_t wanted = pixels / kPixelsPerThread;
    const int parts = static_cast<int>(std::clamp<int64_t>(wanted, 1, std::min(hardware, g_maxPassThreads.load())));
    if (parts == 1) {
        work(0, rows);
        return;
    }
    rowWorkers_.Run(rows, parts, work);
}

uint64_t GsDevice::FramesComposed() const { return framesComposed_.load(); }

void GsDevice::ComposeFrame(uint64_t timestampNanos) {
    const auto lock = LockFrame();
    // Callbacks may stop outputs or detach filters (recursively locked):
    // work on copies and skip whatever has left the live lists.
    const std::vector<GsOutputRaw*> outputs = outputs_;
    std::vector<GsScene*> scenes;
    for (GsOutputRaw* output : outputs) {
        if (std::find(scenes.begin(), scenes.end(), output->scene()) == scenes.end()) {
            scenes.push_back(output->scene());
        }
    }
    // Outputs hold their scene, but a callback may destroy an output.
    for (GsScene* scene : scenes) scene->AddRef();

    for (GsScene* scene : scenes) {
        for (GsItem* item : scene->items()) item->Prepare();
    }
    if (!scenes.empty()) {
        const std::vector<GsFilter*> filters = filters_;
        for (GsFilter* filter : filters) {
            if (!HasFilter(filter)) continue;
            GsContextDefault::Begin(this, filter->texture->pixels(), filter->width(), filter->height());
            filter->Draw();
            GsContextDefault::End();
        }
    }
    std::vector<uint8_t>& picture = picture_;
    for (GsScene* scene : scenes) {
        const int width = static_cast<int>(scene->width);
        const int height = static_cast<int>(scene->height);
        const size_t pixels = static_cast<size_t>(width) * height;
        picture.resize(pixels * 4 + kReadBackSlack);
        // Opaque black background, left out when the first item covers it.
        constexpr uint8_t kBlack[4] = {0, 0, 0, 255};
        uint32_t black = 0;
        std::memcpy(&black, kBlack, 4);
        GsContextDefault::BeginCleared(this, picture.data(), width, height, black);
        for (GsItem* item : scene->items()) item->Draw();
        // A whole-picture copy left out: the frame is the texture itself,
        // valid until the frame ends (textures change under this lock only).
        int frameStride = width * 4;
        const uint8_t* framePixels = GsContextDefault::FramePixels(&frameStride);
        if (framePixels == nullptr) framePixels = picture.data();
        GsContextDefault::End();

        for (GsOutputRaw* output : outputs) {
            if (output->scene() != scene || !HasOutput(output)) continue;
            gs_raw_frame frame;
            frame.width = output->width();
            frame.height = output->height();
            frame.timestamp = timestampNanos;
            frame.linesize[0] = static_cast<int32_t>(frame.width * 4);
            if (frame.width == scene->width && frame.height == scene->height) {
                frame.data[0] = const_cast<uint8_t*>(framePixels);
                frame.linesize[0] = frameStride;
            } else {
                std::vector<uint8_t>& buffer = output->readBackBuffer();
                buffer.resize(static_cast<size_t>(frame.width) * frame.height * 4 + kReadBackSlack);
                ScaleRgba(framePixels, frameStride, width, height, buffer.data(), static_cast<int>(frame.width),
                          static_cast<int>(frame.height));
                frame.data[0] = buffer.data();
            }
            output->OnRawFrame(frame);
        }
    }
    for (GsScene* scene : scenes) scene->Release();
    ++framesComposed_;
}

void GsDevice::RequestFrame() {
    pictureArrived_.store(true);
    clock_->Wake();
}

// Two kinds of frames. A new source picture (RequestFrame) is composed at
// once, but never sooner than an eighth of a period after the last frame, and
// never more often than the frame rate allows: the pictures' frames spend
// a budget that fills at the frame rate and holds at most kBurst frames.
// A picture that comes late leaves its share in the budget, and the pictures
// bunched behind it spend it, so catching up holds back neither them nor
// the pictures on time after them; a phone faster than the frame rate gets
// no more than one frame a period over time. Without new pictures frames
// keep coming on absolute deadlines at the frame rate (the cadence that
// readers see); the first one after a new picture waits half a period more,
// so that a picture that is a little late does not find its slot taken.
//
// Why an eighth: the source keeps only its newest picture. A key frame can
// hold the decoder up for a few periods, and the pictures queued behind it
// then come 2 to 5 ms apart; held a quarter period apart at 60 frames a
// second, one of them would be replaced before its turn. An eighth still
// leaves a queue reader three writes, more than a third of a period, to
// copy a slot before it is written again.
void GsDevice::RunThread() {
    using Nanos = GsClock::Nanos;
    const Nanos start = clock_->Now();
    int rate = framesPerSecond_.load();
    // The deadline schedule: anchor + index / rate.
    Nanos anchor = start;
    int64_t index = 0;
    Nanos lastFrame = start - Nanos(1'000'000'000LL / rate);
    // The frame-rate budget: the time up to which pictures' frames have
    // spent it; a picture may run at most kBurst - 1 periods ahead of it.
    constexpr int kBurst = 8;
    Nanos spentUntil = start;
    bool pending = false;          // a new picture waits for its turn
    for (;;) {
        const Nanos period(1'000'000'000LL / rate);
        const Nanos spacing = period / 8;
        const Nanos deadline = anchor + Nanos(index * 1'000'000'000LL / rate);
        const Nanos pictureTurn = std::max(lastFrame + spacing, spentUntil - (kBurst - 1) * period);
        const Nanos wakeAt = pending ? std::min(pictureTurn, deadline) : deadline;
        if (!clock_->SleepUntil(wakeAt)) return;
        if (pictureArrived_.exchange(false)) pending = true;
        const Nanos now = clock_->Now();
        const bool turnCome = pending && now >= pictureTurn;
        if (!turnCome && now < deadline) continue;  // woken early, or a picture before its turn
        // A frame of the cadence while a picture waits shows that picture
        // (the source hands over its newest): it is the picture's frame, and
        // the picture gets no second one.
        const bool pictureNow = pending;

        const Nanos stamp = turnCome ? now : deadline;
        ComposeFrame(static_cast<uint64_t>(stamp.count()));
        lastFrame = stamp;
        const int newRate = framesPerSecond_.load();
        const bool rateChanged = newRate != rate;
        rate = newRate;
        const Nanos newPeriod(1'000'000'000LL / rate);
        if (pictureNow) {
            ++pictureFrames_;
            pending = false;
            spentUntil = std::max(spentUntil, stamp) + newPeriod;
            // Without a next picture, the next frame a period and a half on.
            anchor = stamp + newPeriod / 2;
            index = 1;
        } else if (rateChanged) {
            anchor = stamp;
            index = 1;
        } else {
            ++index;
        }
        // More than a frame behind: drop the missed frames instead of
        // composing them back to back.
        const Nanos next = anchor + Nanos(index * 1'000'000'000LL / rate);
        const Nanos after = clock_->Now();
        if (after - next > newPeriod) {
            anchor = after;
            index = 0;
        }
    }
}
