// The phone's picture as a composition source: each frame Prepare shares
// the newest picture of the software sink with a texture (no copy) and sets
// up the colour-correction pass (UI values "color_value", "bright_value"); Draw
// draws the pass's output over the item's rectangle.
//
// Prepare and Draw run on the drawing thread; construction, CreateItem,
// Resize and destruction on the GUI thread. Destruction waits for the frame
// being composed and detaches every item made here, so no frame reaches a
// destroyed source.
#pragma once

#include <QSize>
#include <memory>
#include <vector>

#include "zuc_color_correction_filter.h"
#include "zuc_drawable_object.h"
#include "zuc_video_source.h"

class GsTexture;
class StreamVideoSinkSw;
class ZucGsItem;

class ZucCameraVideoSource : public ZucVideoSource, public ZucDrawableObject {
    Q_OBJECT

public:
    ZucCameraVideoSource(const QSize& pictureSize, StreamVideoSinkSw* frameProvider);

    bool CreateItem() override;
    void Resize(const QSize& pictureSize) override;

    void Prepare() override;
    void Draw(const gs_vec2& position, const gs_vec2& size, float itemValue, float sceneWidth,
              float sceneHeight) override;

    // Drawing thread (tests read it between frames).
    const ZucColorCorrectionFilter* filter() const { return filter_.get(); }
    const GsTexture* texture() const { return texture_.get(); }

protected:
    ~ZucCameraVideoSource() override;

private:
    StreamVideoSinkSw* const frameProvider_;  // borrowed
    QSize pictureSize_;
    ZucGsItem* currentItem_ = nullptr;  // the item whose drawable is this; the base holds the reference
    // Drawing thread only.
    std::unique_ptr<GsTexture> texture_;
    std::unique_ptr<ZucColorCorrectionFilter> filter_;
};
