// Qt's own texts (the standard buttons, the folder chooser) in Chinese, to
// match the rest of the interface.
#pragma once

#include <QString>

class QCoreApplication;

// Loads "qtbase_zh_CN.qm" from `folder` (by default Qt's translation folder)
// and installs it into the application, which owns it. A missing or
// unreadable file leaves Qt's English texts and writes one log line.
// Returns whether the translation was installed.
bool InstallQtTranslations(QCoreApplication* application, const QString& folder = QString());
