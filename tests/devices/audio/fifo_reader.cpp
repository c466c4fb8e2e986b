#include "fifo_reader.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

FifoReader::FifoReader() : path_(dir_.filePath("ZuAudioDeviceLink").toStdString()) {
    made_ = dir_.isValid() && ::mkfifo(path_.c_str(), 0600) == 0;
}

FifoReader::~FifoReader() { CloseReader(); }

bool FifoReader::OpenReader() {
    CloseReader();
    fd_ = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return fd_ >= 0;
}

void FifoReader::CloseReader() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::vector<uint8_t> FifoReader::ReadAvailable() {
    std::vector<uint8_t> out;
    uint8_t chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd_, chunk, sizeof chunk);
        if (got <= 0) break;
        out.insert(out.end(), chunk, chunk + got);
    }
    return out;
}

std::vector<uint8_t> FifoReader::ReadExactly(size_t bytes, int timeoutMs) {
    std::vector<uint8_t> out;
    int waited = 0;
    while (out.size() < bytes && waited < timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) {
            waited += 10;
            continue;
        }
        uint8_t chunk[4096];
        const size_t want = std::min(sizeof chunk, bytes - out.size());
        const ssize_t got = ::read(fd_, chunk, want);
        if (got > 0) out.insert(out.end(), chunk, chunk + got);
    }
    return out;
}
