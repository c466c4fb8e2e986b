#include "core/qss/qss_manager.h"

#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QWidget>
#include <cmath>

double dpiScaleFactor() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->logicalDotsPerInch() / 96.0 : 1.0;
}

QssManager::QssManager(QWidget* parent) : QObject(parent) {}

void QssManager::loadQss(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return;
    applyStyleSheet(QString::fromUtf8(file.readAll()));
}

void QssManager::applyStyleSheet(const QString& text) {
    if (auto* widget = qobject_cast<QWidget*>(parent())) widget->setStyleSheet(scaleStyleSheet(text));
}

QString QssManager::scaleStyleSheet(const QString& text) const { return scaleStyleSheet(text, dpiScaleFactor()); }

QString QssManager::scaleStyleSheet(const QString& text, double factor) {
    if (!(factor > 1.0)) return text;
    // A whole number, not the tail of a longer one or of a name ("a1px;").
    static const QRegularExpression size(R"((?<![\w.])(\d+(?:\.\d+)?)px;)");
    QString out;
    out.reserve(text.size() + text.size() / 8);
    int last = 0;
    QRegularExpressionMatchIterator it = size.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        out += text.midRef(last, match.capturedStart() - last);
        const double scaled = std::round(match.captured(1).toDouble() * factor);
        out += QString::number(static_cast<long long>(scaled)) + QStringLiteral("px;");
        last = match.capturedEnd();
    }
    out += text.midRef(last);
    return out;
}
