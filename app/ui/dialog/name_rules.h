// What a camera name may hold, shared by the settings dialog and the rename
// dialog: Chinese characters of the basic CJK block, Latin letters, digits,
// the underscore and blanks.
#pragma once

#include <QRegExp>
#include <QString>

inline constexpr char kCameraNameDefault[] = "Zu Camera";

inline QRegExp CameraNamePattern() {
    return QRegExp(QString::fromUtf8("^[一-龥a-zA-Z0-9_ ]*$"), Qt::CaseSensitive, QRegExp::RegExp);
}
