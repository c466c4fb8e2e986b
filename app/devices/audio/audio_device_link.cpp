#include "audio_device_link.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/tether/tq_log.h"
#include "devices/ownership.h"

namespace {

std::string& PathOverride() {
    static std::string path;
    return path;
}

// A write to a pipe whose reader has gone raises SIGPIPE in the writing
// thread. It is blocked around the write and a pending one is consumed, so the
// process neither dies nor needs SIGPIPE ignored everywhere.
class SigpipeGuard {
public:
    SigpipeGuard() {
        sigemptyset(&pipeOnly_);
        sigaddset(&pipeOnly_, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeOnly_, &previous_);
    }
    ~SigpipeGuard() {
        if (raised_ && !alreadyPending_) {
            const timespec zero{0, 0};
            while (sigtimedwait(&pipeOnly_, nullptr, &zero) == -1 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;
    void raised() { raised_ = true; }

private:
    sigset_t pipeOnly_;
    sigset_t previous_;
    bool alreadyPending_ = false;
    bool raised_ = false;
};

}  // namespace

void SetAudioDeviceLinkPathForTesting(const std::string& path) { PathOverride() = path; }

std::string AudioDeviceLink::DefaultPath() {
    if (!PathOverride().empty()) return PathOverride();
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir = runtime != nullptr && runtime[0] != '\0' ? runtime : "/tmp";
    return dir + "/ZuAudioDeviceLink";
}

AudioDeviceLink::~AudioDeviceLink() { Close(); }

AudioDeviceLink::OpenResult AudioDeviceLink::Open(const std::string& path) {
    Close();
    // No O_CREAT: the FIFO belongs to the audio server. Without a reader a
    // non-blocking write-only open fails with ENXIO. O_NOFOLLOW: a link
    // planted at the path fails with ELOOP.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return OpenResult::kMissing;
        if (errno == ENXIO) return OpenResult::kNoReader;
        if (errno == ELOOP) {
            LOG_E("virtual mic: %s is a symbolic link; it is not followed and the microphone stays off",
                  path.c_str());
            return OpenResult::kLink;
        }
        return OpenResult::kFailed;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode)) {
        ::close(fd);
        return OpenResult::kNotFifo;
    }
    switch (OwnershipOf(info, kOthersAccessBits)) {
    case Ownership::kForeign:
        ::close(fd);
        LOG_E("virtual mic: the FIFO %s belongs to user %u, not to this user (%u): whoever reads it would hear the "
              "phone, so the microphone stays off; remove it, or start ZuCam with XDG_RUNTIME_DIR set",
              path.c_str(), static_cast<unsigned>(info.st_uid), static_cast<unsigned>(::geteuid()));
        return OpenResult::kNotOwned;
    case Ownership::kOpenToOthers:
        // Ours (the audio server makes it 0666): owner-only from now on, on
        // this very descriptor, before a single block is written.
        if (::fchmod(fd, info.st_mode & 0700) != 0) {
            const int error = errno;
            ::close(fd);
            LOG_E("virtual mic: the FIFO %s is open to other users (mode %03o) and cannot be made private: %s; "
                  "the microphone stays off",
                  path.c_str(), static_cast<unsigned>(info.st_mode & 0777), std::strerror(error));
            return OpenResult::kNotOwned;
        }
        LOG_I("virtual mic: the FIFO %s was open to other users (mode %03o); it is owner-only now", path.c_str(),
              static_cast<unsigned>(info.st_mode & 0777));
        break;
    case Ownership::kPrivate: break;
    }
    fd_ = fd;
    return OpenResult::kOpened;
}

void AudioDeviceLink::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

AudioDeviceLink::WriteResult AudioDeviceLink::Write(const void* data, size_t bytes) const {
    if (fd_ < 0) return WriteResult::kFailed;
    SigpipeGuard guard;
    const auto* next = static_cast<const unsigned char*>(data);
    size_t left = bytes;
    while (left > 0) {
        // Pieces of at most PIPE_BUF bytes are written whole or not at all, so
        // the reader never sees half a sample.
        const size_t piece = left < PIPE_BUF ? left : PIPE_BUF;
        const ssize_t written = ::write(fd_, next, piece);
        if (written < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) return WriteResult::kPending;
            if (errno == EPIPE) guard.raised();
            return WriteResult::kFailed;
        }
        next += written;
        left -= static_cast<size_t>(written);
    }
    return WriteResult::kWritten;
}

const char* ToString(AudioDeviceLink::OpenResult result) {
    switch (result) {
    case AudioDeviceLink::OpenResult::kOpened: return "opened";
    case AudioDeviceLink::OpenResult::kMissing: return "no such FIFO";
    case AudioDeviceLink::OpenResult::kNoReader: return "no reader on the FIFO";
    case AudioDeviceLink::OpenResult::kNotFifo: return "not a FIFO";
    case AudioDeviceLink::OpenResult::kLink: return "a symbolic link, not followed";
    case AudioDeviceLink::OpenResult::kNotOwned: return "not this user's own FIFO";
    case AudioDeviceLink::OpenResult::kFailed: return "cannot be opened";
    }
    return "?";
}
