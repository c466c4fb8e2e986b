// The device link of the virtual audio driver on Linux: the FIFO that a
// PulseAudio or PipeWire module-pipe-source creates and reads. Whatever 16-bit
// mono 48,000 Hz PCM is written here is what programs record from the source.
//
// We never create the FIFO: a missing FIFO, or one nobody reads, means the
// driver is not loaded. Opened write-only and non-blocking, so a stalled
// reader never stalls the audio thread: a full pipe drops the block.
//
// Only a FIFO of this user's is fed: whoever reads the FIFO hears the phone.
// A link at the path is not followed, another user's FIFO (one planted in
// /tmp, where the path falls back to without XDG_RUNTIME_DIR) is refused,
// and our own FIFO is made owner-only before the first block: the audio
// server creates it readable and writable for everyone (mode 0666), which
// is harmless only inside the private runtime folder.
#pragma once

#include <cstddef>
#include <string>

class AudioDeviceLink {
public:
    enum class OpenResult { kOpened, kMissing, kNoReader, kNotFifo, kLink, kNotOwned, kFailed };
    enum class WriteResult { kWritten, kPending, kFailed };

    AudioDeviceLink() = default;
    ~AudioDeviceLink();
    AudioDeviceLink(const AudioDeviceLink&) = delete;
    AudioDeviceLink& operator=(const AudioDeviceLink&) = delete;

    // $XDG_RUNTIME_DIR/ZuAudioDeviceLink, /tmp/ZuAudioDeviceLink without
    // XDG_RUNTIME_DIR, or what SetAudioDeviceLinkPathForTesting set.
    static std::string DefaultPath();

    // Judged on the opened descriptor; a refused FIFO is closed at once,
    // before anything is written, and the refusal is logged.
    OpenResult Open(const std::string& path);
    void Close();
    bool isOpen() const { return fd_ >= 0; }

    // Writes the whole block, or as much of it as the pipe takes in
    // PIPE_BUF-sized (atomic) pieces; kPending when the pipe is full, kFailed
    // when the reader has gone. Never raises SIGPIPE, never allocates: called
    // on the audio thread.
    WriteResult Write(const void* data, size_t bytes) const;

private:
    int fd_ = -1;  // written only while no audio thread runs
};

// Points DefaultPath at path (empty restores the normal one). Tests only;
// call before any manager is created.
void SetAudioDeviceLinkPathForTesting(const std::string& path);

const char* ToString(AudioDeviceLink::OpenResult result);
