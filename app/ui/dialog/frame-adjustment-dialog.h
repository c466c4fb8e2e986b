// The picture adjustment: colour saturation (-100 to 500) and brightness
// (-100 to 100), each a slider and a spin box that mirror each other. Every
// change writes the Tether UI value "color_value" or "bright_value" once;
// the camera source's colour-correction pass reads them at each frame. The
// values start at 0 in every run and are not stored. GUI thread only.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class FrameAdjustmentDialog;
}

class FrameAdjustmentDialog : public QDialog {
    Q_OBJECT

public:
    explicit FrameAdjustmentDialog(QWidget* parent);
    ~FrameAdjustmentDialog() override;

    static constexpr int kColorMin = -100;
    static constexpr int kColorMax = 500;
    static constexpr int kBrightMin = -100;
    static constexpr int kBrightMax = 100;

private slots:
    void on_horizontalSlider_color_correction_valueChanged(int value);
    void on_spinBox_color_correction_valueChanged(int value);
    void on_horizontalSlider_brightness_valueChanged(int value);
    void on_spinBox_brightness_valueChanged(int value);
    void on_pushButton_close_clicked();

private:
    void Init();
    static void SetColorValue(int value);
    static void SetBrightValue(int value);

    std::unique_ptr<Ui::FrameAdjustmentDialog> ui_;
};
