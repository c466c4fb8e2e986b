// The overlay over each preview: while the picture to the virtual camera is
// off it darkens the preview and tells how to turn it back on; otherwise it
// is transparent. It checks the application's picture flag every 500 ms.
#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class ShowMaskWidget;
}

class ShowMaskWidget : public QWidget {
    Q_OBJECT

public:
    static constexpr int kCheckIntervalMs = 500;

    explicit ShowMaskWidget(QWidget* parent = nullptr);
    ~ShowMaskWidget() override;

    // Whether the darkening notice is up (tests).
    bool noticeShown() const;

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    std::unique_ptr<Ui::ShowMaskWidget> ui;
    int timerId_ = 0;
};
