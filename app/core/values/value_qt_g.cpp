#include "core/values/value_qt_g.h"

#include <QByteArray>
#include <QString>
#include <cstring>

#include "core/values/value_text.h"

namespace tq {
namespace {

QRgb rgbaOf(const Value& value) {
    QRgb rgba = 0;
    if (value.type() == ValueQtG::kColor && value.byteSize() == sizeof rgba) memcpy(&rgba, value.bytes(), sizeof rgba);
    return rgba;
}

ValueReader qtGuiReaderFor(const char* tag) {
    if (strcmp(tag, "font") == 0) return &read_font;
    if (strcmp(tag, "color") == 0) return &read_color;
    return nullptr;
}

}  // namespace

ValueQtG::ValueQtG() = default;

ValueQtG::ValueQtG(const QFont& font) {
    const QByteArray utf8 = font.toString().toUtf8();
    fast_set(kFont, utf8.constData(), static_cast<size_t>(utf8.size()));
}

ValueQtG::ValueQtG(const QColor& color) {
    if (!color.isValid()) return;
    const QRgb rgba = color.rgba();
    fast_set(kColor, &rgba, sizeof rgba, "%08x");
}

ValueQtG ValueQtG::fromValue(const Value& value) {
    ValueQtG result;
    static_cast<Value&>(result) = value;
    return result;
}

QFont ValueQtG::toFont() const {
    QFont font;
    if (type() == kFont && byteSize() > 0) font.fromString(QString::fromUtf8(bytes(), static_cast<int>(byteSize())));
    return font;
}

QColor ValueQtG::toColor() const {
    if (type() != kColor) return QColor();
    return QColor::fromRgba(rgbaOf(*this));
}

std::string ValueQtG::write() const {
    switch (type()) {
    case kFont: return write_font(*this);
    case kColor: return write_color(*this);
    default: return Value::write();
    }
}

bool ValueQtG::read(const char* text) { return value_text::readTagged(*this, text, &qtGuiReaderFor); }

std::string write_font(const Value& value) {
    std::string text = "[font]";
    if (value.type() == ValueQtG::kFont) text.append(value.bytes(), value.byteSize());
    return text;
}

std::string write_color(const Value& value) {
    // QColor::name() is "#rrggbb": the alpha channel is dropped.
    return "[color]" + QColor::fromRgba(rgbaOf(value)).name().toStdString();
}

Value read_font(const char* /*tag*/, const char* body) {
    Value value;
    value.fast_set(ValueQtG::kFont, body, body != nullptr ? strlen(body) : 0);
    return value;
}

Value read_color(const char* /*tag*/, const char* body) {
    QColor color;
    color.setNamedColor(QString::fromUtf8(body != nullptr ? body : ""));
    if (!color.isValid()) return Value();
    const QRgb rgba = color.rgba();
    Value value;
    value.fast_set(ValueQtG::kColor, &rgba, sizeof rgba, "%08x");
    return value;
}

bool RegisterQtGuiValueTypes() {
    // Initialised once, thread-safely, on the first call (see
    // RegisterQtValueTypes).
    static const bool registered = [] {
        regist_value_type(ValueQtG::kColor, "color", &write_color, &read_color);
        regist_value_type(ValueQtG::kFont, "font", &write_font, &read_font);
        return true;
    }();
    return registered;
}

}  // namespace tq
