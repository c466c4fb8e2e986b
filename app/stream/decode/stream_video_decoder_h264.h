// StreamVideoDecoderH264: the H.264 decoder of one media connection.
//
// The connection's reader thread (socket reactor, P2P or iOS thread) pushes
// access units; the decoder's own thread re-packs each one so that IDR
// slices carry the latest SPS and PPS, decodes it with libavcodec (on a
// hardware device when one is named and can be opened, else in software),
// converts the picture to YUV420P and pushes it to every sink in order. It
// reports the first picture of a stream and every size change to the hub.
//
// Thread from construction to destruction. The sinks and the hub are
// borrowed: their owner destroys the decoder before them.
#pragma once

#include <QMutex>
#include <QThread>
#include <QWaitCondition>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "decode/stream_video_decoder.h"

class StreamManager;
class StreamPacket;
class StreamVideoSink;

// How libavcodec spreads the decoding over threads. Slice threads add no
// delay but only help streams with several slices per picture; frame
// threads hold back one picture per extra thread (and go without the
// low-delay flag, which libavcodec does not combine with them).
struct H264DecoderTuning {
    enum class Threading { kSlices, kFrames };
    Threading threading = Threading::kSlices;
    int threadCount = 4;
};

class StreamVideoDecoderH264 : public QThread, public StreamVideoDecoder {
public:
    using Tuning = H264DecoderTuning;
    using Threading = H264DecoderTuning::Threading;

    // What is reported to the hub, also given to an observer when one is
    // set (tests, which run without a hub). Called on the decoder thread.
    enum class SizeReport { kVideoArrive, kResolutionChanged };
    using SizeObserver = std::function<void(SizeReport report, int width, int height)>;

    // Queued packets beyond which a new non-key packet is dropped, together
    // with everything after it up to the next key frame.
    static constexpr size_t kMaxQueuedPackets = 120;
    static constexpr uint64_t kMaxQueuedBytes = 64u << 20;
    // A key frame arriving with this many packets queued replaces them.
    static constexpr size_t kKeyFrameFlushThreshold = 16;

    // Starts the decoder thread. hwDecoder names an FFmpeg hardware device
    // type ("vaapi", "cuda", ...); empty for software. hub may be null.
    StreamVideoDecoderH264(const std::string& hwDecoder, StreamManager* hub, const std::vector<StreamVideoSink*>& sinks,
                           SizeObserver observer = {}, const Tuning& tuning = Tuning());
    // Stops the thread, dropping what is still queued.
    ~StreamVideoDecoderH264() override;

    StreamVideoDecoderH264(const StreamVideoDecoderH264&) = delete;
    StreamVideoDecoderH264& operator=(const StreamVideoDecoderH264&) = delete;

    // Any thread. A null packet ends the current stream (see the base).
    void PushPacket(std::unique_ptr<StreamPacket> packet) override;

    // Entries (packets and end markers) waiting for the decoder thread.
    size_t QueuedForTesting() const;
    // The size last decoded by any decoder of this process is remembered
    // across connections; tests start from none.
    static void ForgetLastVideoSizeForTesting();

protected:
    void run() override;

private:
    class DecodeSession;

    // Decoder thread: the next queued entry, or false once stopped. A null
    // entry is an end marker.
    bool TakeNext(std::unique_ptr<StreamPacket>* next);
    // Queue mutex held: drops queued packets but keeps end markers in order.
    void DropQueuedPacketsLocked();

    const std::string hwDecoder_;
    StreamManager* const hub_;
    const std::vector<StreamVideoSink*> sinks_;
    const SizeObserver observer_;
    const Tuning tuning_;

    mutable QMutex queueMutex_;
    // Guarded by queueMutex_: the packets for the decoder thread (null
    // entries are end markers), their payload bytes, the stop request, whether
    // the thread still takes packets, whether packets are being dropped until
    // the next key frame because the queue was full, and whether that was
    // logged.
    QWaitCondition queueChanged_;
    std::list<std::unique_ptr<StreamPacket>> queue_;
    uint64_t queuedBytes_ = 0;
    bool stop_ = false;
    bool accepting_ = true;
    bool dropUntilKeyFrame_ = false;
    bool queueFullLogged_ = false;
};
