#include "zuc_camera_video_source.h"

#include <QDebug>
#include <QImage>

#include "core/tether/tq.h"
#include "ref_counted_object.h"
#include "video_sink/stream_video_sink_sw.h"
#include "vexo/gs_context_default.h"
#include "vexo/gs_device.h"
#include "vexo/gs_texture.h"
#include "zuc_gs_item.h"

namespace {

// A UI value as an integer; 0 without Tether.
int UiInt(const char* key) {
    tq::Interface* const cd = g_cd;
    if (cd == nullptr || cd->uiValues == nullptr) return 0;
    return cd->uiValues->get(key, tq::Value(0)).toInt();
}

}  // namespace

ZucCameraVideoSource::ZucCameraVideoSource(const QSize& pictureSize, StreamVideoSinkSw* frameProvider)
    : frameProvider_(frameProvider), pictureSize_(pictureSize) {}

ZucCameraVideoSource::~ZucCameraVideoSource() {
    GsDevice* const device = GsDevice::DefaultDevice();
    std::unique_lock<std::recursive_mutex> frame;
    if (device != nullptr) frame = device->LockFrame();
    if (currentItem_ != nullptr) currentItem_->SetDrawable(nullptr);
    if (filter_) filter_->Detach();
    filter_.reset();
    qDebug() << "[Release]~ZucCameraVideoSource()";
    texture_.reset();
    SetItem(nullptr);
}

bool ZucCameraVideoSource::CreateItem() {
    auto* item = new RefCountedObject<ZucGsItem>(static_cast<float>(pictureSize_.width()),
                                                 static_cast<float>(pictureSize_.height()), this);
    // The old item may still be in a scene that outlives this source: it
    // stops drawing the source now.
    if (currentItem_ != nullptr) currentItem_->SetDrawable(nullptr);
    currentItem_ = item;
    SetItem(item);
    size_ = pictureSize_;
    return true;
}

void ZucCameraVideoSource::Resize(const QSize& pictureSize) {
    pictureSize_ = pictureSize;
    CreateItem();
}

void ZucCameraVideoSource::Prepare() {
    if (frameProvider_ == nullptr) return;
    const QImage picture = frameProvider_->GetImage();
    if (picture.isNull()) return;
    const int width = picture.width();
    const int height = picture.height();
    const int pitch = static_cast<int>(picture.bytesPerLine());
    if (!texture_ || texture_->width() != width || texture_->height() != height) {
        texture_ = std::make_unique<GsTexture>(nullptr, pitch, kGsTextureRgba, width, height,
                                               GsDevice::DefaultDevice());
    }
    // No upload copy: the texture draws from the picture itself, which the
    // frame provider never writes again while a copy of it is held (it
    // converts into a fresh image instead).
    auto keeper = std::make_shared<const QImage>(picture);
    const uint8_t* const bits = keeper->constBits();
    texture_->Share(std::move(keeper), bits, pitch, kGsTextureRgba, width, height);

    const int colorValue = UiInt("color_value");
    const int brightValue = UiInt("bright_value");

    // A filter of another size would squeeze the picture through its old
    // size (after a rotation, say): make a new one.
    if (filter_ && (filter_->width() != width || filter_->height() != height)) {
        filter_->Detach();
        filter_.reset();
    }
    if (!filter_) {
        filter_ = std::make_unique<ZucColorCorrectionFilter>(width, height);
        filter_->Attach();
    }
    filter_->saturation = colorValue;
    filter_->brightness = brightValue;
    filter_->SetChannelMode(1);
    filter_->SetInput(texture_.get());
}

void ZucCameraVideoSource::Draw(const gs_vec2& position, const gs_vec2& size, float /*itemValue*/, float sceneWidth,
                                float sceneHeight) {
    // A correction that changes nothing was skipped: its input is its output.
    const GsTexture* texture = texture_.get();
    const char* program = "zuc_bgrx";
    if (filter_) {
        texture = filter_->IsIdentity() ? texture_.get() : filter_->texture.get();
        program = "zuc_rgba";
    }
    if (texture == nullptr) return;
    GsContextDefault::SetViewport(0, 0, static_cast<int>(sceneWidth), static_cast<int>(sceneHeight));
    const GsTextureBinder binder(texture);
    if (GsContextDefault::BindShader(program)) {
        GsContextDefault::DrawRect({position, size, 0.0f}, {sceneWidth, sceneHeight});
    }
    GsContextDefault::UnbindShader();
}
