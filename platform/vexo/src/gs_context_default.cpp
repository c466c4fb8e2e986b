#include "vexo/gs_context_default.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "vexo/gs_constant_buffer.h"
#include "vexo/gs_device.h"
#include "vexo/gs_texture.h"

namespace {

// The state of the frame being composed on this thread.
struct ContextState {
    GsDevice* device = nullptr;  // null outside Begin/End
    uint8_t* target = nullptr;
    int targetWidth = 0;
    int targetHeight = 0;
    int viewportX = 0, viewportY = 0, viewportWidth = 0, viewportHeight = 0;
    const GsTexture* texture = nullptr;
    GsKernel kernel = nullptr;
    const GsConstantBuffer* constants = nullptr;
    std::vector<int> columns;
    std::vector<int> rows;
    bool clearPending = false;  // the target is still to be filled with clearValue
    uint32_t clearValue = 0;
    // A left-out whole-picture copy: the frame is these pixels until another
    // draw needs the target.
    const uint8_t* alias = nullptr;
    int aliasStride = 0;
};

thread_local ContextState t_state;
// A pass on the device's row workers.
void RunKernel(GsDevice* device, GsKernel kernel, const GsKernelPass& pass) {
    const int rows = pass.y1 - pass.y0;
    const int64_t pixels = static_cast<int64_t>(rows) * (pass.x1 - pass.x0);
    device->RunRows(rows, pixels, [kernel, &pass](int begin, int end) { kernel(pass, pass.y0 + begin, pass.y0 + end); });
}

// Copies a left-out whole-picture copy into the target, once.
void MaterializeAlias(ContextState& s) {
    if (s.alias == nullptr) return;
    const size_t rowBytes = static_cast<size_t>(s.targetWidth) * 4;
    for (int y = 0; y < s.targetHeight; ++y) {
        std::memcpy(s.target + rowBytes * y, s.alias + static_cast<size_t>(s.aliasStride) * y, rowBytes);
    }
    s.alias = nullptr;
}

// Fills the target with its clear value, once.
void ClearTarget(ContextState& s) {
    if (!s.clearPending) return;
    s.clearPending = false;
    const size_t pixels = static_cast<size_t>(s.targetWidth) * s.targetHeight;
    const uint32_t value = s.clearValue;
    for (size_t i = 0; i < pixels; ++i) std::memcpy(s.target + i * 4, &value, 4);
}

}  // namespace

void GsContextDefault::Begin(GsDevice* device, uint8_t* target, int width, int height) {
    t_state = ContextState{};
    t_state.device = device;
    t_state.target = target;
    t_state.targetWidth = width;
    t_state.targetHeight = height;
    t_state.viewportWidth = width;
    t_state.viewportHeight = height;
}

void GsContextDefault::BeginCleared(GsDevice* device, uint8_t* target, int width, int height, uint32_t rgba) {
    Begin(device, target, width, height);
    t_state.clearPending = target != nullptr && width > 0 && height > 0;
    t_state.clearValue = rgba;
}

void GsContextDefault::SetMaxPassThreads(int threads) { GsDevice::SetMaxPassThreads(threads); }

const uint8_t* GsContextDefault::FramePixels(int* stride) {
    if (t_state.alias == nullptr) return nullptr;
    if (stride != nullptr) *stride = t_state.aliasStride;
    return t_state.alias;
}

void GsContextDefault::End() {
    ClearTarget(t_state);
    t_state = ContextState{};
}

bool GsContextDefault::BindShader(const std::string& name) {
    if (t_state.device == nullptr) return false;
    t_state.kernel = t_state.device->FindShader(name);
    return t_state.kernel != nullptr;
}

void GsContextDefault::UnbindShader() { t_state.kernel = nullptr; }

void GsContextDefault::SetViewport(int x, int y, int width, int height) {
    t_state.viewportX = x;
    t_state.viewportY = y;
    t_state.viewportWidth = std::max(0, width);
    t_state.viewportHeight = std::max(0, height);
}

const GsTexture* GsContextDefault::BindTexture(const GsTexture* texture) {
    const GsTexture* previous = t_state.texture;
    t_state.texture = texture;
    return previous;
}

bool GsContextDefault::BindConstants(const GsConstantBuffer* buffer, int slot) {
    if (t_state.device == nullptr || slot != 0) return false;
    t_state.constants = buffer;
    return true;
}

void GsContextDefault::UnbindConstants(const GsConstantBuffer* buffer) {
    if (t_state.constants == buffer) t_state.constants = nullptr;
}

void GsContextDefault::DrawRect(const gs_transform& transform, const gs_vec2& targetSize) {
    ContextState& s = t_state;
    if (s.device == nullptr || s.kernel == nullptr || targetSize.x <= 0.0f || targetSize.y <= 0.0f ||
        transform.size.x <= 0.0f || transform.size.y <= 0.0f || transform.rotation != 0.0f) {
        return;
    }
    // Target units to pixels through the viewport.
    const float scaleX = static_cast<float>(s.viewportWidth) / targetSize.x;
    const float scaleY = static_cast<float>(s.viewportHeight) / targetSize.y;
    const float left = static_cast<float>(s.viewportX) + transform.pos.x * scaleX;
    const float top = static_cast<float>(s.viewportY) + transform.pos.y * scaleY;
    const float width = transform.size.x * scaleX;
    const float height = transform.size.y * scaleY;
    // Pixel centres inside the rectangle, the viewport and the target.
    const int clipX0 = std::max({0, s.viewportX});
    const int clipY0 = std::max({0, s.viewportY});
    const int clipX1 = std::min(s.targetWidth, s.viewportX + s.viewportWidth);
    const int clipY1 = std::min(s.targetHeight, s.viewportY + s.viewportHeight);
    const int x0 = std::max(clipX0, static_cast<int>(std::ceil(left - 0.5f)));
    const int y0 = std::max(clipY0, static_cast<int>(std::ceil(top - 0.5f)));
    const int x1 = std::min(clipX1, static_cast<int>(std::ceil(left + width - 0.5f)));
    const int y1 = std::min(clipY1, static_cast<int>(std::ceil(top + height - 0.5f)));
    if (x0 >= x1 || y0 >= y1) return;

    GsKernelPass pass;
    pass.target = s.target;
    pass.targetStride = s.targetWidth * 4;
    pass.x0 = x0;
    pass.y0 = y0;
    pass.x1 = x1;
    pass.y1 = y1;
    if (s.constants != nullptr) {
        pass.constants = s.constants->data();
        pass.constantsSize = s.constants->size();
    }
    if (s.texture != nullptr) {
        const int sourceWidth = s.texture->width();
        const int sourceHeight = s.texture->height();
        s.columns.resize(static_cast<size_t>(x1 - x0));
        s.rows.resize(static_cast<size_t>(y1 - y0));
        bool identity = true;
        for (int x = x0; x < x1; ++x) {
            const float u = (static_cast<float>(x) + 0.5f - left) / width;
            const int column = std::clamp(static_cast<int>(u * static_cast<float>(sourceWidth)), 0, sourceWidth - 1);
            s.columns[static_cast<size_t>(x - x0)] = column;
            identity = identity && column == x - x0;
        }
        for (int y = y0; y < y1; ++y) {
            const float v = (static_cast<float>(y) + 0.5f - top) / height;
            const int row = std::clamp(static_cast<int>(v * static_cast<float>(sourceHeight)), 0, sourceHeight - 1);
            s.rows[static_cast<size_t>(y - y0)] = row;
            identity = identity && row == y - y0;
        }
        pass.source = s.texture->pixels();
        pass.sourceStride = s.texture->stride();
        pass.sourceColumn = s.columns.data();
        pass.sourceRow = s.rows.data();
        pass.identity = identity;
    }
    const bool whole = x0 == 0 && y0 == 0 && x1 == s.targetWidth && y1 == s.targetHeight;
    if (s.clearPending) {
        if (whole && KernelWritesWholePass(s.kernel, pass)) {
            s.clearPending = false;
            // The first draw is the whole frame, a plain copy of a texture of
            // the target's size: leave the copy out.
            if (pass.identity && KernelIsPlainCopy(s.kernel) && s.texture->width() == s.targetWidth &&
                s.texture->height() == s.targetHeight && s.targetWidth > 0) {
                s.alias = pass.source;
                s.aliasStride = pass.sourceStride;
                return;
            }
        } else {
            ClearTarget(s);
        }
    } else if (whole && KernelWritesWholePass(s.kernel, pass)) {
        // Overwritten entirely: an earlier left-out copy is not needed.
        s.alias = nullptr;
    }
    MaterializeAlias(s);
    RunKernel(s.device, s.kernel, pass);
}
