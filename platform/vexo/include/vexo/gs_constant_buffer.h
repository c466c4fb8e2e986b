// A program's constant buffer (slot 0 only on the CPU back end).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class GsDevice;

class GsConstantBuffer {
public:
    GsConstantBuffer(const void* data, size_t size, GsDevice* device);
    ~GsConstantBuffer();
    GsConstantBuffer(const GsConstantBuffer&) = delete;
    GsConstantBuffer& operator=(const GsConstantBuffer&) = delete;

    void Update(const void* data, size_t size);
    // False outside a frame or for a slot other than 0.
    bool Bind(int slot) const;
    void Unbind() const;
    const uint8_t* data() const { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }

private:
    std::vector<uint8_t> bytes_;
};
