// The hidden render host: never shown, it carries the preview window whose
// view shows the scene, and owns the render output that feeds the video
// sinks. The main window hands it the sink list once and a new scene item
// whenever video starts or changes size. GUI thread only.
#pragma once

#include <QDialog>
#include <QSize>
#include <memory>
#include <vector>

namespace Ui {
class HideVexoRenderDialog;
}
class GsItem;
class GsOutputFrame;
class PreviewWindow;
class StreamVideoSink;

class HideVexoRenderDialog : public QDialog {
    Q_OBJECT

public:
    explicit HideVexoRenderDialog(QWidget* parent = nullptr);
    ~HideVexoRenderDialog() override;

    // Borrowed sinks, outliving this dialog; used from the next CreateScene.
    void SetSinks(const std::vector<StreamVideoSink*>& sinks);
    // A new scene of size around item, shown in the view and composed for
    // the sinks; the previous output is stopped and deleted first.
    void CreateScene(const QSize& size, GsItem* item);
    // Stops and deletes the output; the view shows no scene.
    void ReleaseScene();

    PreviewWindow* previewWindow() const;
    // The output of the current scene, or null.
    GsOutputFrame* output() const { return output_.get(); }

private slots:
    void on_horizontalSlider_tmp_color_valueChanged(int value);
    void on_horizontalSlider_tmp_bright_valueChanged(int value);

private:
    std::unique_ptr<Ui::HideVexoRenderDialog> ui_;
    std::vector<StreamVideoSink*> sinks_;  // borrowed
    std::unique_ptr<GsOutputFrame> output_;
};
