#include "vexo/gs_constant_buffer.h"

#include <cstring>

#include "vexo/gs_context_default.h"

GsConstantBuffer::GsConstantBuffer(const void* data, size_t size, GsDevice* /*device*/) { Update(data, size); }

GsConstantBuffer::~GsConstantBuffer() { GsContextDefault::UnbindConstants(this); }

void GsConstantBuffer::Update(const void* data, size_t size) {
    bytes_.assign(size, 0);
    if (data != nullptr && size > 0) std::memcpy(bytes_.data(), data, size);
}

bool GsConstantBuffer::Bind(int slot) const { return GsContextDefault::BindConstants(this, slot); }

void GsConstantBuffer::Unbind() const { GsContextDefault::UnbindConstants(this); }
