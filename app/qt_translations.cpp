#include "qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "core/tether/tq_log.h"

bool InstallQtTranslations(QCoreApplication* application, const QString& folder) {
    const QString where = folder.isEmpty() ? QLibraryInfo::location(QLibraryInfo::TranslationsPath) : folder;
    auto* translator = new QTranslator(application);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"), where) || !application->installTranslator(translator)) {
        LOG_W("Qt's Chinese texts (qtbase_zh_CN.qm) are not in %s: Qt's own dialogs stay in English",
              where.toUtf8().constData());
        delete translator;
        return false;
    }
    return true;
}
