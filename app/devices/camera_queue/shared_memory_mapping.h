// A POSIX shared-memory object, open and mapped: owns the descriptor and the
// view and releases both on destruction. The descriptor stays open for the
// mapping's life because the queue writer's lock lives on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class SharedMemoryMapping {
public:
    enum class Access { ReadOnly, ReadWrite };

    // Maps size bytes of the object behind fd, taking fd over (it is closed
    // on failure too). Null when mmap fails; errno tells why.
    static std::unique_ptr<SharedMemoryMapping> Map(int fd, size_t size, Access access);

    ~SharedMemoryMapping();
    SharedMemoryMapping(const SharedMemoryMapping&) = delete;
    SharedMemoryMapping& operator=(const SharedMemoryMapping&) = delete;

    uint8_t* data() const { return view_; }
    size_t size() const { return size_; }
    int fd() const { return fd_; }

private:
    SharedMemoryMapping(int fd, uint8_t* view, size_t size) : fd_(fd), view_(view), size_(size) {}

    const int fd_;
    uint8_t* const view_;
    const size_t size_;
};
