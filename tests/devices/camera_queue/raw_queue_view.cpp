#include "raw_queue_view.h"

#include <cerrno>
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

namespace {

// Runs change on the object opened read-write; keeps the errno it left.
template <class Change>
bool WithObject(const std::string& name, Change change) {
    const int fd = ::shm_open(name.c_str(), O_RDWR, 0);
    if (fd < 0) return false;
    const bool done = change(fd);
    const int error = errno;
    ::close(fd);
    errno = error;
    return done;
}

}  // namespace

bool RawQueueView::ChangeMode(const std::string& name, const unsigned mode) {
    return WithObject(name, [mode](int fd) { return ::fchmod(fd, static_cast<mode_t>(mode)) == 0; });
}

bool RawQueueView::ChangeOwner(const std::string& name, const unsigned uid) {
    return WithObject(name, [uid](int fd) { return ::fchown(fd, static_cast<uid_t>(uid), static_cast<gid_t>(-1)) == 0; });
}

bool RawQueueView::Truncate(const std::string& name, const size_t size) {
    return WithObject(name, [size](int fd) { return ::ftruncate(fd, static_cast<off_t>(size)) == 0; });
}

bool RawQueueView::OwnerAndMode(const std::string& name, unsigned* const uid, unsigned* const mode) {
    const int fd = ::shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0) return false;
    struct stat status {};
    const bool known = ::fstat(fd, &status) == 0;
    ::close(fd);
    if (!known) return false;
    *uid = static_cast<unsigned>(status.st_uid);
    *mode = static_cast<unsigned>(status.st_mode & 0777);
    return true;
}
