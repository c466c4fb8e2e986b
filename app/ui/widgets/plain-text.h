// Text from phones and devices is shown as it stands, never interpreted as
// rich text: Qt guesses rich text for tooltips (and auto-format labels) from
// the text itself, so a name like "<b>x" would otherwise be rendered.
#pragma once

#include <QString>
#include <QTextDocument>

// A tooltip that shows text literally.
inline QString PlainToolTip(const QString& text) {
    if (text.isEmpty() || !Qt::mightBeRichText(text)) return text;
    return QString("<span style='white-space:pre-wrap'>%1</span>").arg(text.toHtmlEscaped());
}
