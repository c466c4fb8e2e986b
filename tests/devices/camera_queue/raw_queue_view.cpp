#include "raw_queue_view.h"

#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

std::unique_ptr<RawQueueView> RawQueueView::Open(const std::string& name) {
    const int fd = ::shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0) return nullptr;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_size == 0) {
        ::close(fd);
        return nullptr;
    }
    const auto size = static_cast<size_t>(status.st_size);
    void* const view = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<RawQueueView>(new RawQueueView(fd, static_cast<uint8_t*>(view), size));
}

std::unique_ptr<RawQueueView> RawQueueView::Create(const std::string& name, const size_t size) {
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0) return nullptr;
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        ::close(fd);
        return nullptr;
    }
    void* const view = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<RawQueueView>(new RawQueueView(fd, static_cast<uint8_t*>(view), size));
}

RawQueueView::~RawQueueView() {
    ::munmap(view_, size_);
    ::close(fd_);
}

uint32_t RawQueueView::Word(const size_t offset) const {
    uint32_t value = 0;
    std::memcpy(&value, view_ + offset, sizeof(value));
    return value;
}

void RawQueueView::SetWord(const size_t offset, const uint32_t value) {
    std::memcpy(view_ + offset, &value, sizeof(value));
}
