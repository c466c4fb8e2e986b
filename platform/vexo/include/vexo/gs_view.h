// A view shows a scene in a native window. The CPU back end has no window
// system binding: it keeps the scene (a reference) and the window's size and
// colour but presents nothing; the scene is composed for its outputs.
#pragma once

#include <cstdint>

class GsDevice;
class GsScene;

class GsView {
public:
    virtual ~GsView() = default;
    void Attch() { attached_ = true; }
    void Detach() { attached_ = false; }
    void SetBackgroundColor(float r, float g, float b, float a);
    bool attached() const { return attached_; }
    const float* backgroundColor() const { return background_; }

private:
    bool attached_ = false;
    float background_[4] = {0.0f, 0.0f, 0.0f, 1.0f};
};

class GsViewImpl : public GsView {
public:
    GsViewImpl(uintptr_t nativeWindow, int width, int height, GsDevice* device);
    ~GsViewImpl() override;
    GsViewImpl(const GsViewImpl&) = delete;
    GsViewImpl& operator=(const GsViewImpl&) = delete;

    // Takes a reference on scene (null allowed) and releases the previous
    // one once the current frame has ended.
    void SetScene(GsScene* scene);
    void Resize(int width, int height);
    GsScene* scene() const { return scene_; }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    const uintptr_t nativeWindow_;
    GsDevice* const device_;  // borrowed; may be null
    GsScene* scene_ = nullptr;  // one reference
    int width_;
    int height_;
};
