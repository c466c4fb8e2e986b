// Loads a form's style sheet from the resource bundle onto the form. A
// stand-in until the shared DPI-scaling style-sheet loader is merged in: it
// applies the sheet as written, unscaled.
#pragma once

#include <QFile>
#include <QString>
#include <QWidget>

inline bool ApplyFormStyleSheet(QWidget* form, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    form->setStyleSheet(QString::fromUtf8(file.readAll()));
    return true;
}
