// Opens a folder or a link with the desktop's opener (xdg-open on Linux).
// Where nothing opens it, the user is told in a message box what could not
// be opened: the folder's path or the link itself, so a saved file can still
// be found. GUI thread only.
#pragma once

#include <QUrl>

class QWidget;

// true when the desktop took the folder or link.
bool OpenWithDesktop(QWidget* parent, const QUrl& url);
