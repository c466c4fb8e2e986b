// The bytes of a shared-memory object seen without the queue classes: the
// tests read the header and slots by offset with it, and make hand-crafted
// (or abandoned) objects for the writer to take over and the reader to
// refuse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class RawQueueView {
public:
    // Maps an existing object read-only; null when there is none.
    static std::unique_ptr<RawQueueView> Open(const std::string& name);
    // Creates (or opens) the object with the given size, writable.
    static std::unique_ptr<RawQueueView> Create(const std::string& name, size_t size);

    // What another program could do to an object by name. Each is false
    // when the system refuses it (errno tells why: EPERM for a chown
    // without the right to change owners).
    static bool ChangeMode(const std::string& name, unsigned mode);
    static bool ChangeOwner(const std::string& name, unsigned uid);
    static bool Truncate(const std::string& name, size_t size);
    // The object's permission bits and owner; false when there is none.
    static bool OwnerAndMode(const std::string& name, unsigned* uid, unsigned* mode);

    ~RawQueueView();
    RawQueueView(const RawQueueView&) = delete;
    RawQueueView& operator=(const RawQueueView&) = delete;

    // The 32-bit word at offset (little-endian, as in the queue).
    uint32_t Word(size_t offset) const;
    void SetWord(size_t offset, uint32_t value);  // writable views only
    const uint8_t* bytes() const { return view_; }
    uint8_t* writableBytes() const { return view_; }
    size_t size() const { return size_; }

private:
    RawQueueView(int fd, uint8_t* view, size_t size) : fd_(fd), view_(view), size_(size) {}

    const int fd_;
    uint8_t* const view_;
    const size_t size_;
};
