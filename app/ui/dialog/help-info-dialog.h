// The help page: a scrollable rich-text page from the resource bundle
// (":/help/help.html") on connecting the phone and on using the camera in
// other programs. Read-only; the close button accepts (1). GUI thread only.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class HelpInfoDialog;
}

class HelpInfoDialog : public QDialog {
    Q_OBJECT

public:
    explicit HelpInfoDialog(QWidget* parent);
    ~HelpInfoDialog() override;
    int exec() override;

    // The page as UTF-8 text up to its first zero byte; empty when the
    // resource cannot be opened (the dialog then shows nothing).
    static QString LoadHelpHtml(const QString& path = QStringLiteral(":/help/help.html"));

private slots:
    void on_pushButton_helpinfo_close_clicked();
    void slot_openUrl(const QString& url);

private:
    void Init();
    std::unique_ptr<Ui::HelpInfoDialog> ui_;
};
