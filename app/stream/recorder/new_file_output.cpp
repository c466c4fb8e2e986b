#include "recorder/new_file_output.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
}

namespace {

constexpr int kBufferBytes = 64 * 1024;

}  // namespace

std::unique_ptr<NewFileOutput> NewFileOutput::Create(const std::string& path, Result* result, int* error) {
    Result ignored = Result::kFailed;
    Result& outcome = result != nullptr ? *result : ignored;
    // O_EXCL never follows a link at the name (EEXIST); O_NOFOLLOW says so
    // for the reader too.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int why = errno;
        outcome = why == EEXIST || why == ELOOP ? Result::kTaken : Result::kFailed;
        if (error != nullptr) *error = why;
        return nullptr;
    }
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
    std::unique_ptr<NewFileOutput> output(new NewFileOutput(fd, nullptr));
    AVIOContext* context =
        buffer != nullptr ? avio_alloc_context(buffer, kBufferBytes, 1, output.get(), nullptr, &WritePacket, &Seek)
                          : nullptr;
    if (context == nullptr) {
        av_free(buffer);
        output.reset();          // closes the descriptor
        ::unlink(path.c_str());  // the empty file just created
        outcome = Result::kFailed;
        if (error != nullptr) *error = ENOMEM;
        return nullptr;
    }
    output->context_ = context;
    outcome = Result::kCreated;
    if (error != nullptr) *error = 0;
    return output;
}

NewFileOutput::~NewFileOutput() { Close(); }

int NewFileOutput::Close() {
    int result = 0;
    if (context_ != nullptr) {
        avio_flush(context_);
        if (context_->error < 0) result = context_->error;
        av_freep(&context_->buffer);
        avio_context_free(&context_);
    }
    if (fd_ >= 0) {
        if (::close(fd_) != 0 && result == 0) result = AVERROR(errno);
        fd_ = -1;
    }
    return result;
}

int NewFileOutput::WritePacket(void* opaque, uint8_t* data, int size) {
    const int fd = static_cast<NewFileOutput*>(opaque)->fd_;
    int written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, static_cast<size_t>(size - written));
        if (n < 0) {
            if (errno == EINTR) continue;
            return AVERROR(errno);
        }
        if (n == 0) return AVERROR(EIO);
        written += static_cast<int>(n);
    }
    return written;
}

int64_t NewFileOutput::Seek(void* opaque, int64_t offset, int whence) {
    const int fd = static_cast<NewFileOutput*>(opaque)->fd_;
    if (whence & AVSEEK_SIZE) {
        struct stat status {};
        return ::fstat(fd, &status) == 0 ? static_cast<int64_t>(status.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
}
