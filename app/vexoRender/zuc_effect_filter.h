// An off-screen pass over one input texture (borrowed, drawing thread).
#pragma once

#include "vexo/gs_filter.h"

class ZucEffectFilter : public GsFilter {
public:
    ZucEffectFilter(int width, int height);
    ~ZucEffectFilter() override;

    void SetInput(const GsTexture* inputTexture) { input_ = inputTexture; }
    const GsTexture* input() const { return input_; }

private:
    const GsTexture* input_ = nullptr;  // borrowed
};
