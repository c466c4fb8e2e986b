// The update offer: update now (1), skip this version (2), later or closed (0).
#pragma once

#include <QDialog>

namespace Ui {
class NewVersionUpdateDialog;
}

class NewVersionUpdateDialog : public QDialog {
    Q_OBJECT

public:
    NewVersionUpdateDialog(const QString& appVersion, const QString& newVersion, const QString& updateBrief,
                           QWidget* parent);
    ~NewVersionUpdateDialog() override;

private slots:
    void on_pushButton_update_clicked() { done(1); }
    void on_pushButton_skip_clicked() { done(2); }
    void on_pushButton_nextTime_clicked() { done(0); }
    void on_pushButton_close_clicked() { done(0); }

private:
    Ui::NewVersionUpdateDialog* ui;
};
