// Cuts a fuzz input into the chunks a socket might deliver. The first byte
// of each chunk says how long the chunk is, so the fuzzer controls the split
// points as well as the bytes.
#pragma once

#include <cstddef>
#include <cstdint>

class FuzzChunks {
public:
    FuzzChunks(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // The next chunk: *chunk and *length are set; false when input is used up.
    // Lengths run 0 to 255 bytes, or the whole rest when the size byte is 255.
    bool Next(const char** chunk, int* length) {
        if (pos_ >= size_) return false;
        const size_t wanted = data_[pos_++];
        const size_t rest = size_ - pos_;
        const size_t take = (wanted == 255 || wanted > rest) ? rest : wanted;
        *chunk = reinterpret_cast<const char*>(data_ + pos_);
        *length = static_cast<int>(take);
        pos_ += take;
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};
