// The render device of the CPU back end: the named shader programs and one
// drawing thread that composes every scene with a started output at the
// frame rate, on absolute deadlines of its clock, and, when a source says it
// has a new picture (RequestFrame), as soon as the frame rate allows.
//
// Per frame: every item's Prepare (all composed scenes), every attached
// filter's Draw, then per scene the items' Draws in order into the scene's
// picture, and each output of the scene gets the read-back.
//
// The frame runs under frameMutex_ (recursive, so that callbacks on the
// drawing thread may call back into the device). Everything that removes an
// object from a frame (GsOutputRaw::Stop, GsFilter::Detach, SetScene, the
// release of textures) takes it and so waits until the current frame ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vexo/gs_clock.h"
#include "vexo/gs_kernel.h"
#include "vexo/gs_row_workers.h"

class GsFilter;
class GsOutputRaw;

class GsDevice {
public:
    // Creates the process's default device on the monotonic clock; with
    // startThread its drawing thread runs at 30 frames per second. True when
    // a default device exists afterwards.
    static bool CreateDefaultDevice(bool startThread);
    static bool CreateDefaultDevice(std::unique_ptr<GsClock> clock, bool startThread);
    // Null before CreateDefaultDevice and after DestroyDefaultDevice.
    static GsDevice* DefaultDevice();
    // Every object made on the device must be gone before this.
    static void DestroyDefaultDevice();

    explicit GsDevice(std::unique_ptr<GsClock> clock);
    ~GsDevice();
    GsDevice(const GsDevice&) = delete;
    GsDevice& operator=(const GsDevice&) = delete;

    bool StartThread();
    // Returns after the drawing thread has ended.
    void StopThread();

    // A source has a new picture: the drawing thread composes it as soon as
    // the frame rate allows, instead of at the next deadline. Any thread.
    void RequestFrame();

    // Clamped to 1..60; takes effect after the next frame.
    void SetFrameRate(int framesPerSecond);
    int FrameRate() const;

    // Registers a named program; true when the back end has a kernel of that
    // name. The texts are kept, not compiled.
    bool AddShader(const char* name, const char* vertexText, const char* pixelText);
    // The kernel of a program added with AddShader, or null.
    GsKernel FindShader(const std::string& name) const;

    // Composes one frame on the calling thread (the drawing thread, or a test
    // that runs no thread).
    void ComposeFrame(uint64_t timestampNanos);
    uint64_t FramesComposed() const;
    // Of those, the frames composed for a new picture (RequestFrame).
    uint64_t PictureFramesComposed() const { return pictureFrames_.load(); }

    // Runs work over rows [0, rows) of a pass of pixels pixels on the
    // device's row workers (threads kept as long as the device): one part
    // per 256 Ki pixels, at most the pass-thread limit and the number of
    // cores; small passes stay on the calling thread.
    void RunRows(int rows, int64_t pixels, const GsRowWorkers::Work& work);
    // The limit on parts of one pass (1 or more); 8 at start.
    static void SetMaxPassThreads(int threads);
    static int MaxPassThreads();

    // Held while a frame is composed; taking it waits for the frame's end.
    std::unique_lock<std::recursive_mutex> LockFrame();

    // Used by the outputs and filters themselves.
    void AddOutput(GsOutputRaw* output);
    void RemoveOutput(GsOutputRaw* output);
    void AttachFilter(GsFilter* filter);
    void DetachFilter(GsFilter* filter);

private:
    void RunThread();
    bool HasOutput(const GsOutputRaw* output) const;
    bool HasFilter(const GsFilter* filter) const;

    std::unique_ptr<GsClock> clock_;
    std::atomic<int> framesPerSecond_{30};
    std::atomic<uint64_t> framesComposed_{0};
    std::atomic<uint64_t> pictureFrames_{0};
    std::atomic<bool> pictureArrived_{false};  // set by RequestFrame, taken by the drawing thread

    mutable std::mutex shadersMutex_;  // guards shaders_
    std::map<std::string, GsKernel> shaders_;

    std::recursive_mutex frameMutex_;  // guards outputs_, filters_ and the frame itself
    std::vector<GsOutputRaw*> outputs_;  // started outputs, borrowed
    std::vector<GsFilter*> filters_;     // attached filters, borrowed
    std::vector<uint8_t> picture_;       // the scene being composed, reused

    GsRowWorkers rowWorkers_;  // joined before the members above go

    std::mutex threadMutex_;  // guards thread_
    std::thread thread_;
};
