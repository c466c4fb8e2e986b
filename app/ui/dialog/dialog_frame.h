// The frame every dialog of the program wears: frameless dialog flags, its
// style sheet from the resource bundle (scaled by QssManager), the header
// properties "header_btns", "header_visible" and "header_height", and the
// hand-over to the Trevane module (Tether command 100).
#pragma once

#include <QList>
#include <QString>

class QDialog;
class QObject;
class QWidget;

// The application's DPI factor (ZuCam::dpiScale), or the screen's when no
// ZuCam runs (tests).
double applicationDpiScale();

// titleBar gets the fixed height int(titleHeight * scale) when not null;
// headerHeight < 0 means "that title height".
void ApplyDialogFrame(QDialog* dialog, const QString& styleSheet, QWidget* titleBar, int titleHeight,
                      const QList<QObject*>& headerButtons, int headerHeight = -1);
