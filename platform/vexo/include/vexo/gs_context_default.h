// The drawing state of the frame being composed: render target, viewport,
// bound texture, program and constant buffer. Only valid on the thread that
// composes, inside Prepare/Draw callbacks; elsewhere binds fail and draws do
// nothing.
#pragma once

#include <string>

#include "vexo/gs_kernel.h"
#include "vexo/gs_types.h"

class GsTexture;
class GsConstantBuffer;

class GsContextDefault {
public:
    static bool BindShader(const std::string& name);
    static void UnbindShader();
    static void SetViewport(int x, int y, int width, int height);
    // Draws the bound texture through the bound program into the rectangle
    // of transform, given in units of a target of targetSize mapped onto the
    // viewport. Nearest sampling.
    static void DrawRect(const gs_transform& transform, const gs_vec2& targetSize);

    // Upper bound of threads a large pass is split over (1 keeps every pass
    // on the composing thread); 8 by default. Any thread.
    static void SetMaxPassThreads(int threads);

    // Used by the library's own objects.
    static const GsTexture* BindTexture(const GsTexture* texture);  // returns the previous
    static bool BindConstants(const GsConstantBuffer* buffer, int slot);
    static void UnbindConstants(const GsConstantBuffer* buffer);
    // Makes (target, width, height) current for the calling thread until End.
    static void Begin(class GsDevice* device, uint8_t* target, int width, int height);
    // As Begin, and the target is to be filled with the 32-bit value rgba:
    // the fill is left out when the first draw covers the whole target with
    // a program that writes every pixel (a full-picture camera source), and
    // done before any other draw or at End.
    static void BeginCleared(class GsDevice* device, uint8_t* target, int width, int height, uint32_t rgba);
    // After a BeginCleared frame whose only draw was a plain copy of a whole
    // texture of the target's size, that copy is left out: the texture's
    // pixels are the frame (valid until the frame ends). Null (and the frame
    // is in the target) otherwise. Call before End.
    static const uint8_t* FramePixels(int* stride);
    static void End();
};
