// Holds the preview window in a margin-free grid.
#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class PreviewWindowWrapper;
}
class PreviewWindow;

class PreviewWindowWrapper : public QWidget {
    Q_OBJECT

public:
    explicit PreviewWindowWrapper(QWidget* parent = nullptr);
    ~PreviewWindowWrapper() override;

    PreviewWindow* GetPreviewWindow() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::unique_ptr<Ui::PreviewWindowWrapper> ui_;
};
