// A borderless tip of one or two centred lines ("- - -" until SetText), shown
// without exec for a moment (the screenshot tip). GUI thread only.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class CustomTipsDialog;
}

class CustomTipsDialog : public QDialog {
    Q_OBJECT

public:
    explicit CustomTipsDialog(QWidget* parent);
    ~CustomTipsDialog() override;
    int exec() override;

    void SetText(const QString& text);
    QString text() const;

private:
    std::unique_ptr<Ui::CustomTipsDialog> ui_;
};
