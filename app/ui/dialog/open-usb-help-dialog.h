// How to switch on USB debugging on an Android phone: two steps and an
// animation that scales with its label. The close button accepts (1).
// GUI thread only.
#pragma once

#include <QDialog>
#include <memory>

class QMovie;

namespace Ui {
class OpenUSBHelpDialog;
}

class OpenUSBHelpDialog : public QDialog {
    Q_OBJECT

public:
    explicit OpenUSBHelpDialog(QWidget* parent);
    ~OpenUSBHelpDialog() override;
    int exec() override;

    QMovie* movie() const { return movie_; }

protected:
    // Resizes of the animation's label rescale the movie; the label itself
    // does not see them.
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void on_pushButton_usb_help_close_clicked();

private:
    std::unique_ptr<Ui::OpenUSBHelpDialog> ui_;
    QMovie* movie_ = nullptr;  // child of the dialog
};
