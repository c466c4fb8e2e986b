// The notice shown while the camera mode is being switched: one centred line
// in a frameless dialog, without the common dialog frame.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class CameraModelDialog;
}

class CameraModelDialog : public QDialog {
    Q_OBJECT

public:
    explicit CameraModelDialog(QWidget* parent);
    ~CameraModelDialog() override;

    void SetText(const QString& text);
    QString text() const;

private:
    std::unique_ptr<Ui::CameraModelDialog> ui_;
};
