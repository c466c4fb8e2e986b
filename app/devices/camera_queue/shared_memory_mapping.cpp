#include "devices/camera_queue/shared_memory_mapping.h"

#include <cerrno>

#include <sys/mman.h>
#include <unistd.h>

std::unique_ptr<SharedMemoryMapping> SharedMemoryMapping::Map(const int fd, const size_t size,
                                                              const Access access) {
    if (fd < 0) return nullptr;
    if (size == 0) {
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    const int protection = access == Access::ReadWrite ? PROT_READ | PROT_WRITE : PROT_READ;
    void* const view = ::mmap(nullptr, size, protection, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return nullptr;
    }
    return std::unique_ptr<SharedMemoryMapping>(new SharedMemoryMapping(fd, static_cast<uint8_t*>(view), size));
}

SharedMemoryMapping::~SharedMemoryMapping() {
    ::munmap(view_, size_);
    ::close(fd_);
}
