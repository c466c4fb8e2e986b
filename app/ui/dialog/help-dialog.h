// "使用帮助": the numbered steps of a Wi-Fi or a USB connection, switched by
// two buttons, with where to get the phone app. Read-only; the close button
// accepts (1). GUI thread only.
#pragma once

#include <QDialog>
#include <memory>

class QButtonGroup;

namespace Ui {
class HelpDialog;
}

class HelpDialog : public QDialog {
    Q_OBJECT

public:
    explicit HelpDialog(QWidget* parent);
    ~HelpDialog() override;
    int exec() override;

private slots:
    void on_pushButton_help_close_clicked();
    void on_pushButton_wireless_help_clicked();
    void on_pushButton_usb_help_clicked();
    void slot_openUrl(const QString& url);

private:
    void Init();
    void ShowSteps(bool usb);
    std::unique_ptr<Ui::HelpDialog> ui_;
};
