// The recording's file as libavformat writes it: created by us as a new
// file, then written through an AVIOContext over that very descriptor, so
// that libavformat never opens anything by name.
//
// Why: a save folder others can write may hold a symbolic link named like
// the next recording (the name's time stamp is guessable to the second);
// opening by name would follow it and truncate its target. The file is
// created with O_CREAT | O_EXCL | O_NOFOLLOW, so anything already at the
// name, a link too, dangling or not, makes the creation fail instead.
//
// One thread at a time (the muxer's callers serialise their writes).
#pragma once

#include <memory>
#include <string>

struct AVIOContext;

class NewFileOutput {
public:
    enum class Result {
        kCreated,
        kTaken,   // something is at the name already (a file, a link, a folder)
        kFailed,  // no such folder, no right to write, no memory
    };

    // Creates path (file-system encoding) with mode 0666 less the umask, as
    // libavformat's own file output does. *error receives errno on failure.
    static std::unique_ptr<NewFileOutput> Create(const std::string& path, Result* result, int* error = nullptr);
    ~NewFileOutput();
    NewFileOutput(const NewFileOutput&) = delete;
    NewFileOutput& operator=(const NewFileOutput&) = delete;

    // The context to hand libavformat (AVFormatContext::pb); it stays ours.
    AVIOContext* context() const { return context_; }
    // Flushes what the context holds and closes the file; 0, or a negative
    // AVERROR of the flush or the close. Harmless when repeated.
    int Close();

private:
    NewFileOutput(int fd, AVIOContext* context) : fd_(fd), context_(context) {}

    static int WritePacket(void* opaque, uint8_t* data, int size);
    static int64_t Seek(void* opaque, int64_t offset, int whence);

    int fd_ = -1;
    AVIOContext* context_ = nullptr;
};
