// "关于我们": the product's name, a short description and the maker's links.
// Read-only; the close button accepts (1). GUI thread only.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutUsDialog;
}

class AboutUsDialog : public QDialog {
    Q_OBJECT

public:
    explicit AboutUsDialog(QWidget* parent);
    ~AboutUsDialog() override;
    int exec() override;

private slots:
    void on_pushButton_about_close_clicked();
    void slot_openUrl(const QString& url);

private:
    void Init();
    std::unique_ptr<Ui::AboutUsDialog> ui_;
};
